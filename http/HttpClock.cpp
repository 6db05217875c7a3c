#include "http/HttpClock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {
// 1970-01-01 as a day count from 1899-12-30.
constexpr double kUnixEpochDays = 25569.0;
}  // namespace

double HttpNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  const time_t secs = time_t(ms / 1000);
  tm local{};
  localtime_r(&secs, &local);
  return kUnixEpochDays + (double(ms) + double(local.tm_gmtoff) * 1000.0) / kMsPerDay;
}

std::string FormatHttpDateTime(double dateTime) {
  const double msSinceEpoch = std::round((dateTime - kUnixEpochDays) * kMsPerDay);
  const time_t secs = time_t(std::floor(msSinceEpoch / 1000.0));
  tm parts{};
  gmtime_r(&secs, &parts);  // the day count already holds local time
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}
