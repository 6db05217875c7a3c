#pragma once
// Dates and times as the gateway reads and writes them: RFC 822 header dates,
// the ISO 8601 values of HTTPMail properties, and the loose dates shown on
// webmail pages.
//
// A date-time (TDateTime) is a double counting days since 1899-12-30 00:00:
// the whole part is the date, the fraction the time of day, local time
// unless said otherwise. Before that epoch the value is negative and the
// fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00).
// Time-zone offsets are signed fractions of a day, positive east of UTC.
// Time-outs elsewhere are kept in the same unit, hence the conversions.
#include <cstdint>
#include <string>
#include <string_view>

using TDateTime = double;

// ---- Calendar arithmetic -------------------------------------------------
bool TryEncodeDate(int year, int month, int day, TDateTime &date);
bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime &time);
// Date plus time of day, honouring the convention for negative dates.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);
void DecodeDateTime(TDateTime value, int &year, int &month, int &day, int &hour, int &minute,
                    int &second, int &ms);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);
// The local wall clock now.
TDateTime Now();
// Moves what Now() answers by Days, as a daylight-saving change or a clock
// step does to the real clock: tests check with it that no time limit
// hangs on the wall clock.
void SetWallClockShift(double days);
// Unix seconds (UTC) to a UTC date-time and back.
TDateTime UnixToDateTime(int64_t seconds);
int64_t DateTimeToUnix(TDateTime value);

// ---- Day-fraction conversions --------------------------------------------
inline double MsToDays(double ms) { return ms / 86400000.0; }
inline double DaysToMs(double days) { return days * 86400000.0; }
inline double SecondsToDays(double seconds) { return seconds / 86400.0; }
inline double DaysToSeconds(double days) { return days * 86400.0; }
inline double MinutesToDays(double minutes) { return minutes / 1440.0; }
inline double HoursToDays(double hours) { return hours / 24.0; }

// ---- Names ---------------------------------------------------------------
// "sun" 1 ... "sat" 7, ignoring case; -1 otherwise.
int DayNameToNumber(std::string_view name);
// "Jan" 1 ... "Dec" 12, ignoring case; -1 otherwise.
int MonthNameToNumber(std::string_view name);

// ---- Zones ---------------------------------------------------------------
// The offset in force here now (daylight time included); 0 when unknown.
double LocalZoneOffset();

// "Tue, 4 Feb 2003 09:05:07 +0100". A zero offset is written "-0000", the
// RFC 2822 way of saying the local zone is not known.
std::string FormatRfc822Date(double zoneOffset, TDateTime dateTime);

// Result bits of ParseRfc822Date; rd_Problem marks every problem.
enum : uint16_t {
  rd_Problem = 0x0001,
  rd_Empty = 0x0003,
  rd_ZoneLetter = 0x0004,
  rd_ZoneNumeric = 0x0008,
  rd_ZoneName = 0x0010,
  rd_NoZone = 0x0021,
  rd_ZoneUnknown = 0x0041,
  rd_BadDayName = 0x0081,
  rd_WrongDayName = 0x0101,
  rd_NoDayName = 0x0201,
  rd_BadTime = 0x0801,
  rd_BadDate = 0x1001,
  rd_YearCompleted = 0x2000,
};

// DateTime gets the date and time as written (not shifted by the zone);
// ZoneOffset gets the zone when it was understood and is left alone
// otherwise. When the date cannot be read, DateTime keeps its date part.
uint16_t ParseRfc822Date(std::string_view text, TDateTime &dateTime, double &zoneOffset);

// "2003-02-04T09:05:07". On failure after the date was read, DateTime holds
// that date.
bool ParseIsoDate(std::string_view text, TDateTime &dateTime);

// Dates as webmail pages show them ("Feb 4, 2003 9:05:07 PM"). What is
// missing is taken from now, and the answer is then false.
bool ParseLooseDate(std::string_view text, TDateTime &dateTime);

// Whether Deadline has passed. With a tolerance of a second or more, a
// deadline further than tolerance + 1 s away on either side means the clock
// jumped: Deadline becomes now and the answer is true.
bool DeadlineCheck(TDateTime &deadline, int toleranceMs);
