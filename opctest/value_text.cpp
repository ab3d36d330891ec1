#include "opctest/value_text.h"

#include <QDate>
#include <QTime>

#include <cstdio>

#include "opctest/ole_date.h"

namespace ravolin {

QString DateText(opcda::Date date, const QLocale& locale) {
  const opcda::CivilTime c = opcda::CivilFromDate(date);
  QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
  if (!dateFormat.contains(QLatin1String("yyyy"))) {
    dateFormat.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  }
  const bool twelveHour = locale.timeFormat(QLocale::ShortFormat).contains(QLatin1Char('a'), Qt::CaseInsensitive);
  const QString timeFormat = twelveHour ? QStringLiteral("h:mm:ss AP") : QStringLiteral("HH:mm:ss");

  const bool epochDay = c.year == 1899 && c.month == 12 && c.day == 30;
  const bool midnight = c.hour == 0 && c.minute == 0 && c.second == 0;
  const QString timeText = locale.toString(QTime(c.hour, c.minute, c.second), timeFormat);
  if (epochDay) return timeText;
  const QString dateText = locale.toString(QDate(c.year, c.month, c.day), dateFormat);
  if (midnight) return dateText;
  return dateText + QLatin1Char(' ') + timeText;
}

QString ValueText(const opcda::Variant& value, const QLocale& locale) {
  struct Visitor {
    const QLocale& locale;
    QString operator()(std::monostate) const { return {}; }
    QString operator()(opcda::Null) const { throw opcda::OpcError("Invalid use of Null", 94); }
    QString operator()(bool b) const { return b ? QStringLiteral("True") : QStringLiteral("False"); }
    QString operator()(std::int64_t i) const { return QString::number(i); }
    QString operator()(double d) const {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15G", d);
      return QString::fromLatin1(buf);
    }
    QString operator()(const std::string& s) const { return QString::fromStdString(s); }
    QString operator()(opcda::Date d) const { return DateText(d, locale); }
  };
  return std::visit(Visitor{locale}, value);
}

}  // namespace ravolin
