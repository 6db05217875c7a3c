#pragma once
// The window's log: lines appended to one file per day in the log folder,
// with old files pruned after a number of days. Lines wait in memory only
// until a batch is full, so that a gateway that runs for weeks under load
// holds a bounded amount and a crash loses at most one batch. The clock is
// injected so that day changes can be tested.
#include <chrono>
#include <functional>
#include <string>

#include "foundation/StrUtil.h"

using TControllerClock = std::function<std::chrono::system_clock::time_point()>;

class TDailyLog {
 public:
  TDailyLog(std::string programFolder, TControllerClock clock);

  // Lines waiting for the file; a full batch is written at once.
  static constexpr size_t kWriteBatchLines = 1000;

  // Adds one line and returns it as kept; a CR LF inside it becomes
  // "<CRLF>" so that a line stays a line.
  std::string Add(const std::string &line);
  // Lines not yet written to a file.
  const TStringList &Buffer() const { return FBuffer; }
  // Lines added since the log started or since the last day change; the
  // window starts its view afresh when a new day's first line arrives.
  size_t LinesToday() const { return FLinesToday; }

  // The folder text as the user gave it; normalised by NormaliseFolder.
  std::string LogDir;
  // Days to keep besides today, as text; not a number means 7.
  std::string LogDays = "3";

  // Strips one trailing separator, falls back to the program folder's
  // "Logs" when empty, and creates the folder (or, failing that, the
  // fallback).
  void NormaliseFolder();
  // Appends the buffer to the file named for today and empties it. When no
  // folder can be had or the file cannot be written, the lines stay in the
  // buffer so that nothing is lost.
  bool Flush();
  // Deletes daily files older than the kept days. Only names of the daily
  // form are touched: the folder may be one the user shares with other files.
  void DeleteOldLogs();
  // The hourly tick: prunes, and flushes when the day has changed since the
  // last flush.
  void HourlyTick();

  // "05 Dec 2026.log" for a moment on that local day.
  static std::string FileNameFor(std::chrono::system_clock::time_point when);
  static std::string FileNameForDay(int day);
  // "05 Dec 2026": English month names whatever the locale, as in the file names.
  static std::string DateTextForDay(int day);
  // Whole local day number of a moment.
  static int DayNumber(std::chrono::system_clock::time_point when);
  int CurrentDay() const { return FCurrentDay; }
  int KeepDays() const { return StrToIntDef(Trim(LogDays), 7); }
  std::string FallbackFolder() const { return FProgramFolder + "/Logs"; }
  std::chrono::system_clock::time_point Now() const { return FClock(); }

 private:
  std::string FProgramFolder;
  TControllerClock FClock;
  // Appends the buffer to today's file; false (lines kept) on failure.
  bool WriteBuffer();

  TStringList FBuffer;
  size_t FLinesToday = 0;
  int FCurrentDay;
};
