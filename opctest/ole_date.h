// Automation dates (days since 30 December 1899 with the time as fraction)
// to and from calendar fields, without any toolkit.
#pragma once

#include "opctest/opc_automation.h"

namespace opcda {

struct CivilTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The date of the calendar fields (proleptic Gregorian, no zone).
Date DateFromCivil(const CivilTime& civil);

// The calendar fields of a date, the time rounded to the nearest second as
// the automation layer does when it shows a date. Negative dates count days
// backwards while the fraction still runs forward in the day, as in the
// automation date format.
CivilTime CivilFromDate(Date date);

// The current local time as an automation date.
Date LocalNow();

}  // namespace opcda
