// How values and dates appear in ravolin's text boxes.
#pragma once

#include <QLocale>
#include <QString>

#include "opctest/opc_automation.h"

namespace ravolin {

// A date as the window shows it: the locale's short date (four-digit year)
// and the time with seconds; the date alone when the time is midnight, the
// time alone when the date is the automation epoch (30 December 1899).
QString DateText(opcda::Date date, const QLocale& locale);

// A value as text: numbers in plain decimal (a point as the separator, up to
// 15 significant digits), True/False, empty for Empty, dates as DateText.
// Null has no text: OpcError "Invalid use of Null".
QString ValueText(const opcda::Variant& value, const QLocale& locale);

}  // namespace ravolin
