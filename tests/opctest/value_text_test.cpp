#include "opctest/value_text.h"

#include <gtest/gtest.h>

#include "opctest/ole_date.h"

namespace {

using opcda::CivilTime;
using opcda::Date;

TEST(OleDate, RoundTripsCalendarFieldsAroundTheEpoch) {
  const CivilTime cases[] = {
      {1899, 12, 30, 0, 0, 0}, {1899, 12, 30, 6, 0, 0},   {1899, 12, 29, 6, 0, 0},
      {1900, 1, 1, 0, 0, 0},   {2000, 2, 29, 23, 59, 59}, {2024, 3, 12, 14, 5, 33},
      {1800, 7, 4, 12, 30, 0},
  };
  for (const auto& c : cases) {
    const CivilTime back = opcda::CivilFromDate(opcda::DateFromCivil(c));
    EXPECT_EQ(back.year, c.year);
    EXPECT_EQ(back.month, c.month);
    EXPECT_EQ(back.day, c.day);
    EXPECT_EQ(back.hour, c.hour);
    EXPECT_EQ(back.minute, c.minute);
    EXPECT_EQ(back.second, c.second);
  }
  // Known values of the automation date format.
  EXPECT_DOUBLE_EQ(opcda::DateFromCivil({1900, 1, 1, 0, 0, 0}).value, 2.0);
  EXPECT_DOUBLE_EQ(opcda::DateFromCivil({1899, 12, 30, 6, 0, 0}).value, 0.25);
  EXPECT_DOUBLE_EQ(opcda::DateFromCivil({1899, 12, 29, 6, 0, 0}).value, -1.25);
}

TEST(OleDate, RoundsToTheNearestSecondAcrossMidnight) {
  const CivilTime c = opcda::CivilFromDate(Date{2.0 - 0.1 / 86400.0});
  EXPECT_EQ(c.day, 1);
  EXPECT_EQ(c.month, 1);
  EXPECT_EQ(c.year, 1900);
  EXPECT_EQ(c.hour, 0);
}

struct DateCase {
  CivilTime civil;
  const char* german;
  const char* english;
};

TEST(DateText, ShowsDateAndTimeAsTheToolkitDefault) {
  const QLocale german(QLocale::German, QLocale::Germany);
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const DateCase cases[] = {
      {{2024, 3, 12, 14, 5, 33}, "12.03.2024 14:05:33", "3/12/2024 2:05:33 PM"},
      {{2024, 3, 12, 0, 0, 0}, "12.03.2024", "3/12/2024"},
      {{1899, 12, 30, 0, 0, 0}, "00:00:00", "12:00:00 AM"},
      {{1899, 12, 30, 9, 8, 7}, "09:08:07", "9:08:07 AM"},
  };
  for (const auto& c : cases) {
    const Date d = opcda::DateFromCivil(c.civil);
    EXPECT_EQ(ravolin::DateText(d, german).toStdString(), c.german);
    EXPECT_EQ(ravolin::DateText(d, english).toStdString(), c.english);
  }
}

TEST(ValueText, ShowsEveryKindOfValue) {
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_EQ(ravolin::ValueText(std::monostate{}, german), "");
  EXPECT_EQ(ravolin::ValueText(true, german), "True");
  EXPECT_EQ(ravolin::ValueText(false, german), "False");
  EXPECT_EQ(ravolin::ValueText(std::int64_t{-42}, german), "-42");
  EXPECT_EQ(ravolin::ValueText(2.5, german), "2.5");
  EXPECT_EQ(ravolin::ValueText(0.1, german), "0.1");
  EXPECT_EQ(ravolin::ValueText(1e20, german), "1E+20");
  EXPECT_EQ(ravolin::ValueText(std::string("Grüße"), german), QString::fromUtf8("Grüße"));
  EXPECT_EQ(ravolin::ValueText(opcda::DateFromCivil({2024, 3, 12, 14, 5, 33}), german),
            "12.03.2024 14:05:33");
  try {
    ravolin::ValueText(opcda::Null{}, german);
    FAIL() << "Null has no text";
  } catch (const opcda::OpcError& e) {
    EXPECT_EQ(e.Description(), "Invalid use of Null");
  }
}

}  // namespace
