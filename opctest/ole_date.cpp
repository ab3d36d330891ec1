#include "opctest/ole_date.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace opcda {
namespace {

// Day number of 30 December 1899 counted from 1 January 1970.
constexpr long long kEpochOffset = -25569;

// Days since 1970-01-01 of a Gregorian date (H. Hinnant's algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

}  // namespace

Date DateFromCivil(const CivilTime& c) {
  const long long days = DaysFromCivil(c.year, static_cast<unsigned>(c.month),
                                       static_cast<unsigned>(c.day)) -
                         kEpochOffset;
  const double fraction = (c.hour * 3600.0 + c.minute * 60.0 + c.second) / 86400.0;
  // Before the epoch the day counts backwards but the time still adds.
  return Date{days >= 0 ? static_cast<double>(days) + fraction
                        : static_cast<double>(days) - fraction};
}

CivilTime CivilFromDate(Date date) {
  double whole = std::trunc(date.value);
  long long seconds = std::llround(std::fabs(date.value - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += date.value < 0 ? -1.0 : 1.0;
  }
  CivilTime c;
  CivilFromDays(static_cast<long long>(whole) + kEpochOffset, c.year, c.month, c.day);
  c.hour = static_cast<int>(seconds / 3600);
  c.minute = static_cast<int>(seconds / 60 % 60);
  c.second = static_cast<int>(seconds % 60);
  return c;
}

Date LocalNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  return DateFromCivil(CivilTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                                 tm.tm_min, tm.tm_sec});
}

}  // namespace opcda
