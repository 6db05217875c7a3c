#include "mail/Rfc822Date.h"

#include <time.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

#include "foundation/QuorUtil.h"
#include "foundation/StrUtil.h"

namespace {

// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDays = 25569;
constexpr int64_t kMsPerDay = 86400000;

const char *const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char *const kLongMonthNames[12] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};

// Marks a zone name or letter that no table knows.
constexpr double kUnknownZone = 13;

struct TNamedZone {
  const char *name;
  double hours;
};

// Kept as the gateway has always read them, including the entries that
// depart from common usage (BST, NZD). First match wins.
constexpr TNamedZone kNamedZones[] = {
    {"UT", 0},     {"GMT", 0},    {"EST", -5},  {"EDT", -4},   {"CST", -6},    {"CDT", -5},
    {"MST", -7},   {"MDT", -6},   {"PST", -8},  {"PDT", -7},   {"ATL", -4},    {"ALA", -9},
    {"HAW", -10},  {"AEST", 10},  {"AEDT", 11}, {"ACST", 9.5}, {"ACDT", 10.5}, {"AWST", 8},
    {"WET", 0},    {"AST", -4},   {"UTC", 0},   {"BST", -3},   {"GST", -3},    {"AKDT", -8},
    {"ADT", -3},   {"HDT", -9},   {"HST", -10}, {"SST", -11},  {"IST", 1},     {"WEST", 1},
    {"CET", 1},    {"CEST", 2},   {"EET", 2},   {"EEST", 3},   {"MSK", 3},     {"MSD", 4},
    {"NST", -3.5}, {"NDT", -2.5}, {"WST", -4},  {"WDT", -3},   {"AKS", -9},    {"AKD", -8},
    {"FST", -2},   {"FDT", -1},   {"YST", -9},  {"YDT", -8},   {"NZS", 12},    {"NZD", -1},
    {"EAS", 10},   {"EAD", 11},   {"CAS", 9.5}, {"CAD", 10.5}, {"JST", 9},     {"KST", 9},
    {"KDT", 10},   {"CCT", 8},    {"HKT", 8},   {"WAS", 8},    {"WAD", 9},     {"JT", 7.5},
    {"MEZ", 1},    {"MES", 2},    {"SWT", 1},   {"FWT", 1},    {"WAT", 1},
};

double NamedZoneHours(std::string_view name) {
  for (const TNamedZone &z : kNamedZones)
    if (SameText(name, z.name)) return z.hours;
  return kUnknownZone;
}

// Military letters: "a".."m" west (no "j"), "n".."y" east, "z" is UTC.
double MilitaryZoneHours(char letter) {
  char c = LowCaseChar(letter);
  if (c == 'z') return 0;
  if (c >= 'a' && c <= 'i') return -(c - 'a' + 1);
  if (c >= 'k' && c <= 'm') return -(c - 'a');
  if (c >= 'n' && c <= 'y') return c - 'n' + 1;
  return kUnknownZone;
}

// days_from_civil: the proleptic Gregorian calendar, counted from 1970.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int &year, int &month, int &day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(int64_t(yoe) + era * 400 + (month <= 2));
}

bool IsLeapYear(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Splits off the text up to the first space; both halves trimmed.
std::string FetchToken(std::string &rest) {
  size_t space = rest.find(' ');
  std::string token = Trim(std::string_view(rest).substr(0, space));
  rest =
      space == std::string::npos ? std::string() : Trim(std::string_view(rest).substr(space + 1));
  return token;
}

std::vector<std::string> SplitAt(std::string_view s, char sep) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    size_t at = s.find(sep, from);
    parts.emplace_back(s.substr(from, at == std::string_view::npos ? at : at - from));
    if (at == std::string_view::npos) return parts;
    from = at + 1;
  }
}

// "hh:mm:ss" or "hh:mm", 24-hour.
bool ParseClock(std::string_view text, bool secondsOptional, TDateTime &time) {
  std::vector<std::string> parts = SplitAt(text, ':');
  if (parts.size() != 3 && !(secondsOptional && parts.size() == 2)) return false;
  int v[3] = {0, 0, 0};
  for (size_t i = 0; i < parts.size(); ++i)
    if (!AllDigits(Trim(parts[i])) || !TryStrToInt(parts[i], v[i])) return false;
  return TryEncodeTime(v[0], v[1], v[2], 0, time);
}

// Wall-clock fields of now, local time.
struct TNowFields {
  int year, month, day, hour, minute, second, ms;
};

TNowFields NowFields() {
  TNowFields f;
  DecodeDateTime(Now(), f.year, f.month, f.day, f.hour, f.minute, f.second, f.ms);
  return f;
}

}  // namespace

// ---- Calendar arithmetic -------------------------------------------------

bool TryEncodeDate(int year, int month, int day, TDateTime &date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  date = double(DaysFromCivil(year, unsigned(month), unsigned(day)) + kUnixEpochDays);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime &time) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 ||
      ms > 999)
    return false;
  time = double(((hour * 60 + minute) * 60 + second) * 1000 + ms) / double(kMsPerDay);
  return true;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date < 0 ? date - time : date + time;
}

void DecodeDateTime(TDateTime value, int &year, int &month, int &day, int &hour, int &minute,
                    int &second, int &ms) {
  double whole = std::trunc(value);
  int64_t days = int64_t(whole);
  int64_t msOfDay = std::llround(std::fabs(value - whole) * double(kMsPerDay));
  if (msOfDay >= kMsPerDay) {  // rounding reached the next midnight
    msOfDay -= kMsPerDay;
    ++days;
  }
  CivilFromDays(days - kUnixEpochDays, year, month, day);
  ms = int(msOfDay % 1000);
  second = int(msOfDay / 1000 % 60);
  minute = int(msOfDay / 60000 % 60);
  hour = int(msOfDay / 3600000);
}

int DayOfWeek(TDateTime value) {
  int64_t days = int64_t(std::trunc(value));
  // Day 0, 1899-12-30, was a Saturday.
  return int(((days % 7) + 7 + 6) % 7) + 1;
}

namespace {
std::atomic<double> gWallClockShift{0.0};
}  // namespace

void SetWallClockShift(double days) { gWallClockShift.store(days); }

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  time_t secs = ts.tv_sec;
  long offset = localtime_r(&secs, &local) ? local.tm_gmtoff : 0;
  return UnixToDateTime(int64_t(ts.tv_sec) + offset) + double(ts.tv_nsec) / 1e9 / 86400.0 +
         gWallClockShift.load();
}

TDateTime UnixToDateTime(int64_t seconds) {
  return double(kUnixEpochDays) + double(seconds) / 86400.0;
}

int64_t DateTimeToUnix(TDateTime value) {
  return std::llround((value - double(kUnixEpochDays)) * 86400.0);
}

// ---- Names ---------------------------------------------------------------

int DayNameToNumber(std::string_view name) {
  for (int i = 0; i < 7; ++i)
    if (SameText(name, kDayNames[i])) return i + 1;
  return -1;
}

int MonthNameToNumber(std::string_view name) {
  for (int i = 0; i < 12; ++i)
    if (SameText(name, kMonthNames[i])) return i + 1;
  return -1;
}

// ---- Zones and RFC 822 ---------------------------------------------------

double LocalZoneOffset() {
  time_t now = time(nullptr);
  tm local{};
  if (!localtime_r(&now, &local)) return 0;
  return double(local.tm_gmtoff) / 86400.0;
}

std::string FormatRfc822Date(double zoneOffset, TDateTime dateTime) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(dateTime, y, mo, d, h, mi, s, ms);
  long minutes = std::lround(std::fabs(zoneOffset) * 1440.0);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDayNames[DayOfWeek(dateTime) - 1], d, kMonthNames[mo - 1], y, h, mi, s,
                zoneOffset > 0 ? '+' : '-', minutes / 60, minutes % 60);
  return buf;
}

uint16_t ParseRfc822Date(std::string_view text, TDateTime &dateTime, double &zoneOffset) {
  std::string rest = Trim(text);
  if (rest.empty()) return rd_Empty;
  uint16_t result = 0;

  std::string dayName, dayOfMonth;
  std::string first = FetchToken(rest);
  int ignored;
  if (TryStrToInt(first, ignored)) {
    dayOfMonth = first;
    result |= rd_NoDayName;
  } else {
    dayName = first;
    dayOfMonth = FetchToken(rest);
  }
  std::string month = FetchToken(rest);
  std::string year = FetchToken(rest);
  rest = ReplaceAll(rest, ": ", ":");
  std::string clock = FetchToken(rest);
  std::string zone = FetchToken(rest);

  if (!dayName.empty() && dayName.back() == ',')
    dayName = Trim(dayName.substr(0, dayName.size() - 1));
  int dayNumber = DayNameToNumber(dayName);
  if (!dayName.empty() && dayNumber < 0) result |= rd_BadDayName;

  int yearValue = -1;
  if (AllDigits(year) && TryStrToInt(year, yearValue) && year.size() < 4) {
    // Two digits: the closest century that does not put the date in the
    // future by more than the rest of this century. Three digits are the
    // year minus 1900, as old software wrote them.
    result |= rd_YearCompleted;
    if (year.size() == 3) {
      yearValue += 1900;
    } else {
      int thisYear = NowFields().year % 100;
      yearValue += yearValue > thisYear ? 1900 : 2000;
    }
  }

  TDateTime date = std::trunc(dateTime);
  int day = 0;
  bool dateOk = AllDigits(dayOfMonth) && TryStrToInt(dayOfMonth, day) && yearValue >= 0 &&
                TryEncodeDate(yearValue, MonthNameToNumber(month), day, date);
  if (!dateOk) {
    result |= rd_BadDate;
    date = std::trunc(dateTime);
  } else if (dayNumber > 0 && dayNumber != DayOfWeek(date)) {
    result |= rd_WrongDayName;
  }

  TDateTime time = 0;
  if (!ParseClock(clock, true, time)) result |= rd_BadTime;
  dateTime = ComposeDateTime(date, time);

  if (zone.empty()) {
    result |= rd_NoZone;
  } else if (zone.size() == 1) {
    result |= rd_ZoneLetter;
    double hours = MilitaryZoneHours(zone[0]);
    if (hours == kUnknownZone)
      result |= rd_ZoneUnknown;
    else
      zoneOffset = hours / 24;
  } else if (int numeric; !TryStrToInt(zone, numeric)) {
    result |= rd_ZoneName;
    double hours = NamedZoneHours(zone);
    if (hours == kUnknownZone)
      result |= rd_ZoneUnknown;
    else
      zoneOffset = hours / 24;
  } else {
    result |= rd_ZoneNumeric;
    // "+hhmm"/"-hhmm"; a bare "hhmm" is read as east of UTC.
    size_t at = (zone[0] == '+' || zone[0] == '-') ? 1 : 0;
    std::string hh = zone.substr(at, 2);
    std::string mm = zone.size() > at + 2 ? zone.substr(at + 2, 2) : std::string();
    int hours, minutes;
    if (hh.size() != 2 || mm.size() != 2 || !AllDigits(hh) || !AllDigits(mm) ||
        !TryStrToInt(hh, hours) || !TryStrToInt(mm, minutes)) {
      result |= rd_ZoneUnknown;
    } else {
      double offset = hours / 24.0 + minutes / 1440.0;
      zoneOffset = zone.find('-') != std::string::npos ? -offset : offset;
    }
  }
  return result;
}

// ---- ISO and loose dates -------------------------------------------------

bool ParseIsoDate(std::string_view text, TDateTime &dateTime) {
  std::string trimmed = Trim(text);
  size_t t = trimmed.find('T');
  std::vector<std::string> ymd = SplitAt(std::string_view(trimmed).substr(0, t), '-');
  if (ymd.size() != 3) return false;
  int y, m, d;
  for (const std::string &piece : ymd)
    if (!AllDigits(piece)) return false;
  TDateTime date;
  if (!TryStrToInt(ymd[0], y) || !TryStrToInt(ymd[1], m) || !TryStrToInt(ymd[2], d) ||
      !TryEncodeDate(y, m, d, date))
    return false;
  dateTime = date;
  if (t == std::string::npos) return false;
  TDateTime time;
  if (!ParseClock(std::string_view(trimmed).substr(t + 1), false, time)) return false;
  dateTime = ComposeDateTime(date, time);
  return true;
}

namespace {

// "h:m:s" with an optional " AM"/" PM", which is honoured.
bool ParseLooseClock(std::string_view text, TDateTime &time) {
  std::string clock = Trim(text);
  int shift = -1;  // no designator
  if (EndsText(" AM", clock) || EndsText(" PM", clock)) {
    shift = UpCaseChar(clock[clock.size() - 2]) == 'P' ? 12 : 0;
    clock = Trim(clock.substr(0, clock.size() - 3));
  }
  std::vector<std::string> parts = SplitAt(clock, ':');
  if (parts.size() != 3) return false;
  int v[3];
  for (int i = 0; i < 3; ++i)
    if (!AllDigits(parts[i]) || !TryStrToInt(parts[i], v[i])) return false;
  if (shift >= 0) {
    if (v[0] < 1 || v[0] > 12) return false;
    v[0] = v[0] % 12 + shift;
  }
  return TryEncodeTime(v[0], v[1], v[2], 0, time);
}

}  // namespace

bool ParseLooseDate(std::string_view text, TDateTime &dateTime) {
  const std::string s(text);
  const TNowFields now = NowFields();
  bool defaulted = false;

  int month = -1;
  for (int i = 0; i < 12 && month < 0; ++i)
    if (ContainsText(s, kLongMonthNames[i])) month = i + 1;
  for (int i = 0; i < 12 && month < 0; ++i)
    if (ContainsText(s, kMonthNames[i])) month = i + 1;
  if (month < 0) {
    month = now.month;
    defaulted = true;
  }

  int day = 0;
  bool dayOk = true;
  std::string dayText = PatternSearch("\\d+", s, pf_Greedy | pf_WholeMatchOnly);
  if (dayText.empty()) {
    day = now.day;
    defaulted = true;
  } else {
    dayOk = TryStrToInt(dayText, day);
  }

  int year = now.year;
  std::string yearText = PatternSearch("20\\d\\d", s, pf_Greedy | pf_WholeMatchOnly);
  if (yearText.empty())
    defaulted = true;
  else
    year = StrToIntDef(yearText, now.year);

  std::string clock =
      PatternSearch("\\d{1,2}:\\d{1,2}:\\d{1,2}( AM| PM)?", s, pf_Greedy | pf_WholeMatchOnly);
  TDateTime time = 0;
  bool timeOk;
  if (clock.empty()) {
    defaulted = true;
    timeOk = TryEncodeTime(now.hour, now.minute, now.second, 0, time);
  } else {
    timeOk = ParseLooseClock(clock, time);
  }

  TDateTime date;
  // Month first as the platform writes dates; pages in day-first locales get
  // a second chance with the two exchanged.
  if (dayOk && timeOk &&
      (TryEncodeDate(year, month, day, date) || TryEncodeDate(year, day, month, date))) {
    dateTime = ComposeDateTime(date, time);
    return !defaulted;
  }
  dateTime = Now();
  return false;
}

bool DeadlineCheck(TDateTime &deadline, int toleranceMs) {
  TDateTime now = Now();
  double distanceMs = DaysToMs(deadline - now);
  if (toleranceMs >= 1000 && std::fabs(distanceMs) > double(toleranceMs) + 1000.0) {
    deadline = now;
    return true;
  }
  return distanceMs <= 0;
}
