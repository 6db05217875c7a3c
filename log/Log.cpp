#include "log/Log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/QuorCriticalSections.h"
#include "foundation/QuorUtil.h"
#include "foundation/StrUtil.h"

namespace fs = std::filesystem;
using TClock = std::chrono::system_clock;

namespace {

const char *const kApplicationTitle = "Brelvane";
const char *const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct TLocalDate {
  int year = 0, month = 0, day = 0;
  bool operator==(const TLocalDate &) const = default;
};

std::tm LocalTm(TClock::time_point when) {
  std::time_t t = TClock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

TLocalDate DateOf(TClock::time_point when) {
  std::tm tm = LocalTm(when);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

// Fraction of the local day elapsed, scaled to the full positive 31-bit range.
long long TimeOfDayNumber(TClock::time_point when) {
  std::tm tm = LocalTm(when);
  auto sinceSecond = when - TClock::from_time_t(TClock::to_time_t(when));
  double ms = (tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec) * 1000.0 +
              std::chrono::duration_cast<std::chrono::milliseconds>(sinceSecond).count();
  return static_cast<long long>(ms / 86400000.0 * 2147483647.0);
}

class TLogWriter {
 public:
  TLogWriter() : FLock(std::make_unique<TMutexCriticalSection>("Log_CS")) {}

  void Write(const std::string &source, const std::string &text, uint8_t detail, bool error) {
    if (!FEnabled || !FLock) return;
    try {
      if (!AcquirePolitely()) return;
    } catch (...) {
      return;  // the lock's own limit ran out: the line is lost, the caller goes on
    }
    try {
      WriteLocked(source, text, detail, error);
    } catch (...) {
    }
    FLock->Leave();
  }

  void SetEnabled(bool on) { FEnabled = on; }

  template <typename F>
  void Locked(F &&f) {
    if (!FLock) return;
    try {
      TCriticalSectionGuard guard(*FLock);
      f();
    } catch (...) {
    }
  }

  void Close() {
    if (!FFile) return;
    FFile->flush();
    FFile.reset();
    if (FCreated && !FWritten) {
      std::error_code ec;
      fs::remove(FPath, ec);
    }
    FPath.clear();
  }

  void SetClock(TLogClock clock) { FClock = std::move(clock); }
  void SetFolder(const std::string &folder) { FFolderOverride = folder; }
  void SetThreshold(int threshold) { FThreshold = threshold; }
  void SetDaysToKeep(int days) { FDaysToKeep = days; }
  const std::string &Path() const { return FPath; }
  TClock::time_point Now() const { return FClock ? FClock() : TClock::now(); }

 private:
  // A busy lock is polled for a while before the blocking wait, so that a
  // writer never sits inside the lock's own wait while someone is slow.
  bool AcquirePolitely() {
    auto start = std::chrono::steady_clock::now();
    while (!FLock->TryEnter()) {
      if (std::chrono::steady_clock::now() - start >= std::chrono::seconds(3)) {
        FLock->Enter();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return true;
  }

  std::string Folder() const {
    if (!FFolderOverride.empty()) return FFolderOverride;
    return GetProgramFolder() + "/Log";
  }

  void WriteLocked(const std::string &source, const std::string &text, uint8_t detail, bool error) {
    if (detail == kLogDetailNever) return;
    TClock::time_point now = Now();
    if (!FFile) {
      OpenFile(now);
    } else if (!(DateOf(now) == FFileDate)) {
      Close();
      OpenFile(now);
      DeleteOldFiles(now);
    }
    if (!FFile) return;
    FWritten = true;
    std::string oneLine = ReplaceAll(text, "\r\n", "<CRLF>");
    if (detail < 10 - FThreshold) return;
    FItems.clear();
    FItems.push_back("S=" + source);
    if (!oneLine.empty()) FItems.push_back("T=" + oneLine);
    FItems.push_back("D=" + std::to_string(detail));
    FItems.push_back(std::string("E=") + (error ? "1" : "0"));
    FItems.push_back("Ti=" + std::to_string(TimeOfDayNumber(now)));
    FItems.push_back("I=" + std::to_string(CurrentThreadNumber()));
    *FFile << LogCommaText(FItems) << "\r\n";
    // A diagnostic log exists for the run that ends badly, so every record
    // reaches the file at once rather than waiting in the stream's buffer.
    FFile->flush();
  }

  void OpenFile(TClock::time_point now) {
    FFileDate = DateOf(now);
    FWritten = false;
    std::string folder = Folder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::string path = folder + "/" + LogFileNameFor(now);
    FCreated = !fs::exists(path, ec);
    auto file = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::app);
    if (!file->is_open()) return;
    FFile = std::move(file);
    FPath = path;
  }

  int DeleteOldFiles(TClock::time_point now) {
    int deleted = 0;
    auto cutOff = now - std::chrono::hours(24) * FDaysToKeep;
    std::error_code ec;
    for (fs::directory_iterator it(Folder(), ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path &p = it->path();
      if (!EndsText(".log", p.filename().string())) continue;
      std::error_code fileEc;
      if (!it->is_regular_file(fileEc)) continue;
      auto written = fs::last_write_time(p, fileEc);
      if (fileEc) continue;
      auto writtenSys = std::chrono::file_clock::to_sys(written);
      if (writtenSys >= cutOff) continue;
      if (fs::remove(p, fileEc)) ++deleted;
    }
    return deleted;
  }

  bool FEnabled = true;
  std::unique_ptr<TMutexCriticalSection> FLock;
  std::unique_ptr<std::ofstream> FFile;
  std::string FPath;
  TLocalDate FFileDate;
  bool FWritten = false;
  bool FCreated = false;
  int FThreshold = 10;
  int FDaysToKeep = 7;
  std::vector<std::string> FItems;
  TLogClock FClock;
  std::string FFolderOverride;
};

TLogWriter &Writer() {
  // Never destroyed: lines may still arrive from other threads or static
  // destructors while the program ends.
  static TLogWriter *writer = new TLogWriter;
  return *writer;
}

}  // namespace

long CurrentThreadNumber() { return static_cast<long>(syscall(SYS_gettid)); }

std::string LogCommaText(const std::vector<std::string> &items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    const std::string &item = items[i];
    bool quote = false;
    for (unsigned char c : item)
      if (c <= 32 || c == '"' || c == ',') {
        quote = true;
        break;
      }
    if (!quote) {
      out += item;
      continue;
    }
    out += '"';
    out += ReplaceAll(item, "\"", "\"\"");
    out += '"';
  }
  return out;
}

std::string LogFileNameFor(TClock::time_point when) {
  std::tm tm = LocalTm(when);
  char date[32];
  std::snprintf(date, sizeof date, "%02d %s %04d", tm.tm_mday, kMonthNames[tm.tm_mon],
                tm.tm_year + 1900);
  return std::string(kApplicationTitle) + " - " + date + ".log";
}

void WriteLogLine(const std::string &source, const std::string &text, uint8_t detail, bool error) {
  Writer().Write(source, text, detail, error);
}

void LogModuleEnd() {
  TLogWriter &w = Writer();
  w.Locked([&] {
    w.SetEnabled(false);
    w.Close();
  });
}

void SetLogEnabled(bool enabled) {
  TLogWriter &w = Writer();
  w.Locked([&] { w.SetEnabled(enabled); });
}

void SetLogThreshold(int threshold) {
  TLogWriter &w = Writer();
  w.Locked([&] { w.SetThreshold(threshold); });
}

void SetLogDaysToKeep(int days) {
  TLogWriter &w = Writer();
  w.Locked([&] { w.SetDaysToKeep(days); });
}

void SetLogClock(TLogClock clock) {
  TLogWriter &w = Writer();
  w.Locked([&] {
    w.Close();
    w.SetClock(std::move(clock));
  });
}

void SetLogFolder(const std::string &folder) {
  TLogWriter &w = Writer();
  w.Locked([&] {
    w.Close();
    w.SetFolder(folder);
  });
}

std::string CurrentLogPath() {
  TLogWriter &w = Writer();
  std::string path;
  w.Locked([&] { path = w.Path(); });
  return path;
}

void CloseLogFile() {
  TLogWriter &w = Writer();
  w.Locked([&] { w.Close(); });
}
