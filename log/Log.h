#pragma once
// Program-wide sink for diagnostic lines that are shown nowhere else: each
// line becomes one comma-separated record in a daily file of the program
// folder's "Log" subfolder. Safe to call from any thread; never raises.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Detail numbers of log lines, from least to most important; the threshold
// keeps the file to the more important ones.
constexpr uint8_t kLogDetailClientLine = 1;   // command lines read from the client
constexpr uint8_t kLogDetailSentLine = 2;     // lines written to the client
constexpr uint8_t kLogDetailClientError = 3;  // protocol errors by the client
constexpr uint8_t kLogDetailRoutine = 4;      // routine requests, connect and disconnect
constexpr uint8_t kLogDetailStep = 5;         // significant steps; retried failures
constexpr uint8_t kLogDetailMarkRead = 7;     // marking mail read
constexpr uint8_t kLogDetailConnection = 8;   // connection and socket events, webmail errors
constexpr uint8_t kLogDetailRefusal = 9;      // time-outs, dropped lines and refusals
constexpr uint8_t kLogDetailSecurity = 10;    // security refusals, the log-on road chosen
// Detail number that marks a line as never written to the file.
constexpr uint8_t kLogDetailNever = 11;

void WriteLogLine(const std::string &source, const std::string &text, uint8_t detail, bool error);

// Shut-down of the writer: closes the file and stops all further writing.
void LogModuleEnd();
// Turns writing on or off (on at start).
void SetLogEnabled(bool enabled);

// Lines with a detail number below 10 - threshold are dropped (10: keep all).
void SetLogThreshold(int threshold);
void SetLogDaysToKeep(int days);

// Seams for tests and for the --home option: the clock that decides the day
// and the pruning cut-off, and the folder the files go to (empty: the
// program folder + "/Log"). Changing either closes the current file.
using TLogClock = std::function<std::chrono::system_clock::time_point()>;
void SetLogClock(TLogClock clock);
void SetLogFolder(const std::string &folder);

// "Brelvane - 07 Dec 2026.log" for a moment on that (local) day.
std::string LogFileNameFor(std::chrono::system_clock::time_point when);
// Full path of the open file; empty when none is open.
std::string CurrentLogPath();
// Closes the current file (deleting it if this run made it and wrote nothing).
void CloseLogFile();

// The record layout, exposed for tests: items joined by ",", an item with a
// byte <= 32, a double quote or a comma enclosed in double quotes.
std::string LogCommaText(const std::vector<std::string> &items);

// Kernel id of the calling thread, as the log records and connection lines show it.
long CurrentThreadNumber();
