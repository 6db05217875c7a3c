#include "app/DailyLog.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// Day number of a name of the form FileNameFor writes ("dd mmm yyyy.log",
// any case); -1 for any other name.
int DayOfDailyLogName(const std::string &name) {
  if (name.size() != 15 || !EndsText(".log", name)) return -1;
  auto digit = [&](size_t i) { return name[i] >= '0' && name[i] <= '9'; };
  if (!digit(0) || !digit(1) || name[2] != ' ' || name[6] != ' ') return -1;
  if (!digit(7) || !digit(8) || !digit(9) || !digit(10)) return -1;
  unsigned month = 0;
  for (unsigned m = 0; m < 12; ++m)
    if (SameText(name.substr(3, 3), kMonths[m])) month = m + 1;
  const std::chrono::year_month_day date{
      std::chrono::year(std::stoi(name.substr(7, 4))), std::chrono::month(month),
      std::chrono::day(static_cast<unsigned>(std::stoi(name.substr(0, 2))))};
  if (!date.ok()) return -1;
  return std::chrono::sys_days(date).time_since_epoch().count();
}

}  // namespace

TDailyLog::TDailyLog(std::string programFolder, TControllerClock clock)
    : FProgramFolder(std::move(programFolder)), FClock(std::move(clock)) {
  if (!FClock) FClock = [] { return std::chrono::system_clock::now(); };
  FCurrentDay = DayNumber(FClock());
}

std::string TDailyLog::Add(const std::string &line) {
  std::string kept = ReplaceAll(line, "\r\n", "<CRLF>");
  FBuffer.push_back(kept);
  ++FLinesToday;
  // A failed write keeps the lines for the next batch or the day's flush.
  if (FBuffer.size() >= kWriteBatchLines) WriteBuffer();
  return kept;
}

std::string TDailyLog::FileNameFor(std::chrono::system_clock::time_point when) {
  return FileNameForDay(DayNumber(when));
}

std::string TDailyLog::FileNameForDay(int day) { return DateTextForDay(day) + ".log"; }

std::string TDailyLog::DateTextForDay(int day) {
  const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(day))};
  char text[32];
  std::snprintf(text, sizeof text, "%02u %s %04d", static_cast<unsigned>(date.day()),
                kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<int>(date.year()));
  return text;
}

int TDailyLog::DayNumber(std::chrono::system_clock::time_point when) {
  const std::tm tm = LocalTime(when);
  const std::chrono::year_month_day date{std::chrono::year(tm.tm_year + 1900),
                                         std::chrono::month(static_cast<unsigned>(tm.tm_mon + 1)),
                                         std::chrono::day(static_cast<unsigned>(tm.tm_mday))};
  return std::chrono::sys_days(date).time_since_epoch().count();
}

void TDailyLog::NormaliseFolder() {
  std::string dir = ReplaceAll(LogDir, "\\", "/");
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (Trim(dir).empty()) dir = FallbackFolder();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
      dir = FallbackFolder();
      fs::create_directories(dir, ec);
    }
  }
  LogDir = dir;
}

bool TDailyLog::WriteBuffer() {
  NormaliseFolder();
  std::error_code ec;
  if (!fs::is_directory(LogDir, ec)) return false;
  if (!FBuffer.empty()) {
    std::ofstream out(LogDir + "/" + FileNameFor(FClock()), std::ios::binary | std::ios::app);
    for (const std::string &line : FBuffer) out << line << "\r\n";
    out.flush();
    if (!out) return false;
  }
  FBuffer.clear();
  return true;
}

bool TDailyLog::Flush() {
  if (!WriteBuffer()) return false;
  const int today = DayNumber(FClock());
  if (today != FCurrentDay) FLinesToday = 0;
  FCurrentDay = today;
  return true;
}

void TDailyLog::DeleteOldLogs() {
  std::error_code ec;
  if (LogDir.empty() || !fs::is_directory(LogDir, ec)) return;
  // Today and the kept days before it, counted in calendar days so that a
  // daylight-saving change never drops a name. Negative keeps none.
  const int keep = KeepDays();
  const int today = DayNumber(FClock());
  for (fs::directory_iterator it(LogDir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const int day = DayOfDailyLogName(name);
    if (day < 0) continue;
    if (keep >= 0 && day <= today && static_cast<long long>(today) - day <= keep) continue;
    std::error_code ignored;
    if (it->is_regular_file(ignored)) fs::remove(it->path(), ignored);
  }
}

void TDailyLog::HourlyTick() {
  DeleteOldLogs();
  if (DayNumber(FClock()) != FCurrentDay) Flush();
}
