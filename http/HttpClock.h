#pragma once
// The clock of the HTTP exchange: a date-time as a count of days since
// 30 December 1899, local time, so that deadlines and cookie expiry dates can
// be compared with the dates the mail layer reads.
#include <string>

double HttpNow();
// Milliseconds as a day fraction and back.
constexpr double kMsPerDay = 86400000.0;
inline double MsToDayFraction(double ms) { return ms / kMsPerDay; }
inline double DayFractionToMs(double days) { return days * kMsPerDay; }
// "yyyy-mm-dd hh:nn:ss" of a date-time, for trace files.
std::string FormatHttpDateTime(double dateTime);
