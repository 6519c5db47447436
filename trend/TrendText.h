#pragma once
// Texts of the day-number dates and times the chart shows. Fixed forms, whatever the
// locale: the chart's labels read "yyyy/MM/dd" and "hh:mm:ss", the clock labels of the
// live window "MM-dd-yyyy" and "hh:mm:ss" (24-hour clock).
#include <QString>

#include "trend/TrendState.h"

namespace hx {

// "hh:mm:ss" of a time of day, rounded to the nearest second. The text never changes a
// date: a time that rounds to 24:00:00 or beyond reads modulo one day ("00:00:00").
QString timeOfDayText(double dayFraction);
// "yyyy/MM/dd" of the whole day of a day number; empty when it is no calendar date.
QString dateText(double dayNumber);

// A slot with date 0 and time 0 holds no record.
constexpr bool isEmptyInstant(double date, double time) {
    return date == 0 && time == 0;
}

// The label texts of a slot: blank for a slot that holds no record (an operator should not
// read 1899/12/30 00:00:00 off an empty slot). The slot must be in range.
QString slotTimeText(const TrendState& state, int slot);
QString slotDateText(const TrendState& state, int slot);

// The clock labels of the live window.
QString clockDateText(double dayNumber);   // "MM-dd-yyyy", empty when no calendar date
QString clockTimeText(double dayFraction); // "hh:mm:ss"

} // namespace hx
