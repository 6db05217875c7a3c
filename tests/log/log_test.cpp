#include "log/Log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "foundation/QuorUtil.h"
#include "foundation/StrUtil.h"
#include "shared/TestFiles.h"

namespace fs = std::filesystem;
using TClock = std::chrono::system_clock;

namespace {

TClock::time_point LocalMoment(int year, int month, int day, int hour, int minute = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;
  return TClock::from_time_t(std::mktime(&tm));
}

class LogWriterTest : public testing::Test {
 protected:
  void SetUp() override {
    FFolder = fs::temp_directory_path() / ("brelvane-log-" + RandomText(10));
    fs::create_directories(FFolder);
    FNow = LocalMoment(2026, 12, 7, 10, 30);
    SetLogFolder(FFolder.string());
    SetLogClock([this] { return FNow; });
    SetLogThreshold(10);
    SetLogEnabled(true);
  }
  void TearDown() override {
    SetLogClock(nullptr);
    SetLogFolder("");
    std::error_code ec;
    fs::remove_all(FFolder, ec);
  }
  fs::path FFolder;
  TClock::time_point FNow;
};

TEST(LogFormat, FileNameUsesTitleAndTwoDigitDayAndEnglishMonth) {
  EXPECT_EQ(LogFileNameFor(LocalMoment(2026, 12, 7, 23, 59)), "Brelvane - 07 Dec 2026.log");
  EXPECT_EQ(LogFileNameFor(LocalMoment(2027, 1, 31, 0, 1)), "Brelvane - 31 Jan 2027.log");
}

TEST(LogFormat, CommaTextQuotesOnlyItemsThatNeedIt) {
  EXPECT_EQ(LogCommaText({"S=TPop3", "T=hello world", "D=4"}), "S=TPop3,\"T=hello world\",D=4");
  EXPECT_EQ(LogCommaText({"T=a,b", "T=say \"hi\"", "T=tab\there"}),
            "\"T=a,b\",\"T=say \"\"hi\"\"\",\"T=tab\there\"");
  EXPECT_EQ(LogCommaText({"T=plain"}), "T=plain");
}

TEST_F(LogWriterTest, RecordCarriesAllItemsAndCrLfBecomesMarker) {
  WriteLogLine("TESMTPHotmailServer", "(3) Sent: \"250 OK\"\r\nsecond", 2, false);
  WriteLogLine("Pool", "boom", 9, true);
  std::string path = CurrentLogPath();
  ASSERT_EQ(fs::path(path).filename().string(), "Brelvane - 07 Dec 2026.log");
  CloseLogFile();
  TStringList lines = SplitLines(ReadFileText(path));
  ASSERT_EQ(lines.size(), 2u);
  std::string tid = std::to_string(CurrentThreadNumber());
  // 10:30 local is 0.4375 of the day.
  std::string ti = std::to_string(static_cast<long long>(0.4375 * 2147483647.0));
  EXPECT_EQ(lines[0],
            "S=TESMTPHotmailServer,\"T=(3) Sent: \"\"250 OK\"\"<CRLF>second\",D=2,E=0,Ti=" + ti +
                ",I=" + tid);
  EXPECT_EQ(lines[1], "S=Pool,T=boom,D=9,E=1,Ti=" + ti + ",I=" + tid);
}

TEST_F(LogWriterTest, EmptyTextItemIsLeftOut) {
  WriteLogLine("Src", "", 1, false);
  std::string path = CurrentLogPath();
  CloseLogFile();
  EXPECT_EQ(SplitLines(ReadFileText(path))[0].rfind("S=Src,D=1,E=0,Ti=", 0), 0u);
}

TEST_F(LogWriterTest, DetailElevenWritesNothingAndOpensNoFile) {
  WriteLogLine("Src", "127.0.0.1 connected.", kLogDetailNever, false);
  EXPECT_EQ(CurrentLogPath(), "");
  EXPECT_TRUE(fs::is_empty(FFolder));
}

TEST_F(LogWriterTest, ThresholdDropsLowDetailButKeepsFile) {
  SetLogThreshold(5);  // keep detail 5 and up
  WriteLogLine("Src", "low", 4, false);
  WriteLogLine("Src", "high", 5, false);
  std::string path = CurrentLogPath();
  CloseLogFile();
  TStringList lines = SplitLines(ReadFileText(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("T=high"), std::string::npos);
}

TEST_F(LogWriterTest, NothingIsWrittenAfterShutDownOfWriting) {
  SetLogEnabled(false);
  WriteLogLine("Src", "lost", 5, false);
  EXPECT_TRUE(fs::is_empty(FFolder));
}

TEST_F(LogWriterTest, NewDaySwitchesFileAndPrunesOnlyOldLogFiles) {
  WriteLogLine("Src", "day one", 5, false);
  std::string first = CurrentLogPath();

  // Files the pruning must judge by their last-write time, not their names.
  auto stamp = [&](const std::string &name, TClock::time_point when) {
    fs::path p = FFolder / name;
    std::ofstream(p) << "x";
    fs::last_write_time(p, std::chrono::file_clock::from_sys(when));
    return p;
  };
  TClock::time_point dayTwo = LocalMoment(2026, 12, 8, 0, 5);
  fs::path ancient = stamp("Brelvane - 20 Nov 2026.log", dayTwo - std::chrono::hours(24 * 8));
  fs::path upper = stamp("OTHER.LOG", dayTwo - std::chrono::hours(24 * 30));
  fs::path recent = stamp("Brelvane - 02 Dec 2026.log", dayTwo - std::chrono::hours(24 * 6));
  fs::path notLog = stamp("notes.txt", dayTwo - std::chrono::hours(24 * 30));

  FNow = dayTwo;  // the open file sees the new day at its next line
  WriteLogLine("Src", "day two", 5, false);
  std::string second = CurrentLogPath();
  CloseLogFile();

  EXPECT_EQ(fs::path(second).filename().string(), "Brelvane - 08 Dec 2026.log");
  EXPECT_NE(ReadFileText(first).find("day one"), std::string::npos);
  EXPECT_EQ(ReadFileText(first).find("day two"), std::string::npos);
  EXPECT_NE(ReadFileText(second).find("day two"), std::string::npos);
  EXPECT_FALSE(fs::exists(ancient));
  EXPECT_FALSE(fs::exists(upper));
  EXPECT_TRUE(fs::exists(recent));
  EXPECT_TRUE(fs::exists(notLog));
}

TEST_F(LogWriterTest, DaySwitchWhileFileIsOpen) {
  WriteLogLine("Src", "before midnight", 5, false);
  FNow = LocalMoment(2026, 12, 8, 0, 0);  // same writer, no reopen through a seam
  WriteLogLine("Src", "after midnight", 5, false);
  EXPECT_EQ(fs::path(CurrentLogPath()).filename().string(), "Brelvane - 08 Dec 2026.log");
  CloseLogFile();
  EXPECT_TRUE(fs::exists(FFolder / "Brelvane - 07 Dec 2026.log"));
}

TEST_F(LogWriterTest, AppendsToAnExistingFileOfTheDay) {
  std::ofstream(FFolder / "Brelvane - 07 Dec 2026.log", std::ios::binary) << "earlier run\r\n";
  WriteLogLine("Src", "this run", 5, false);
  std::string path = CurrentLogPath();
  CloseLogFile();
  TStringList lines = SplitLines(ReadFileText(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier run");
}

TEST_F(LogWriterTest, LinesFromManyThreadsArriveWhole) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i)
        WriteLogLine("T" + std::to_string(t), "line " + std::to_string(i), 5, false);
    });
  for (auto &th : threads) th.join();
  std::string path = CurrentLogPath();
  CloseLogFile();
  TStringList lines = SplitLines(ReadFileText(path));
  ASSERT_EQ(lines.size(), 800u);
  for (const auto &l : lines) EXPECT_EQ(l.rfind("S=T", 0), 0u) << l;
}

}  // namespace
