// The controller driven as the window drives it, on real loopback ports, a
// real settings file and real log files in a fresh program folder; only the
// clock and the webmail sessions are stand-ins.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTcpSocket>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/QuorHotController.h"
#include "foundation/QuorUtil.h"
#include "sessions/Notifier.h"
#include "shared/StubSession.h"
#include "shared/TestFiles.h"

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace {

class TRecordingNotifier : public TNotifier {
 public:
  std::vector<std::string> Texts;
  void ShowMessage(const std::string &, const std::string &text) override { Texts.push_back(text); }
};

// A listening socket that keeps a port taken until closed.
class TPortBlocker {
 public:
  explicit TPortBlocker(int port = 0) {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    where.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(FFd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 ||
        ::listen(FFd, 1) != 0) {
      Close();
      return;
    }
    socklen_t length = sizeof where;
    ::getsockname(FFd, reinterpret_cast<sockaddr *>(&where), &length);
    Port = ntohs(where.sin_port);
  }
  ~TPortBlocker() { Close(); }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }
  int Port = 0;

 private:
  int FFd = -1;
};

int FreePort() { return TPortBlocker().Port; }

Clock::time_point LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return Clock::from_time_t(std::mktime(&tm));
}

bool Contains(const TStringList &lines, const std::string &line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int CountStartingWith(const TStringList &lines, const std::string &prefix) {
  return static_cast<int>(std::count_if(
      lines.begin(), lines.end(), [&](const std::string &l) { return l.rfind(prefix, 0) == 0; }));
}

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = fs::temp_directory_path() / ("brelvane-controller-" + RandomText(10));
    fs::create_directories(Folder);
    Now = LocalTime(2026, 12, 5, 10, 11, 12);
    SetNotifier(&Notifier);
  }
  void TearDown() override {
    SetNotifier(nullptr);
    std::error_code ignored;
    fs::remove_all(Folder, ignored);
  }

  TControllerOptions Options() {
    TControllerOptions options;
    options.ProgramFolder = Folder.string();
    options.Clock = [this] { return Now; };
    options.ListenAddress = "127.0.0.1";
    options.SessionFactory = [] { return std::make_unique<TStubSession>(); };
    options.OnLogLine = [this](const std::string &line) { Shown.push_back(line); };
    return options;
  }

  // A settings file holding the two ports, so that nothing is probed.
  void WriteSettings(int pop, int smtp, const std::string &extra = "") {
    std::ofstream out(Folder / "Settings.ini", std::ios::binary);
    out << "[Receiving]\r\nPopPort=" << pop << "\r\n[Sending]\r\nSmtpPort=" << smtp << "\r\n"
        << extra;
  }

  fs::path Folder;
  Clock::time_point Now;
  TRecordingNotifier Notifier;
  TStringList Shown;
};

}  // namespace

TEST_F(ControllerTest, FirstRunProbesPastTakenPortsAndKeepsWhatItFound) {
  TPortBlocker popTaken, smtpTaken;
  ASSERT_GT(popTaken.Port, 0);
  ASSERT_LT(popTaken.Port, 64000);
  TPortBlocker popTakenToo(popTaken.Port + 100);
  if (popTakenToo.Port == 0)
    GTEST_SKIP() << "probe port " << popTaken.Port + 100 << " in use elsewhere";
  TControllerOptions options = Options();
  options.PopProbeStart = popTaken.Port;
  options.SmtpProbeStart = smtpTaken.Port;
  const std::string popFound = std::to_string(popTaken.Port + 200);
  const std::string smtpFound = std::to_string(smtpTaken.Port + 100);
  {
    TQuorHotController controller(options);
    controller.FormCreate();
    EXPECT_TRUE(controller.FirstRun());
    ASSERT_TRUE(controller.PopServer().Active());
    EXPECT_EQ(std::to_string(controller.PopServer().BoundPort()), popFound);
    EXPECT_EQ(controller.Controls.PopPort, popFound);
    EXPECT_EQ(controller.Controls.SmtpPort, smtpFound);
    const TStringList &log = controller.Log().Buffer();
    EXPECT_TRUE(
        Contains(log, "Failed to open port " + std::to_string(popTaken.Port) + " for listening"));
    EXPECT_TRUE(Contains(
        log, "Failed to open port " + std::to_string(popTaken.Port + 100) + " for listening"));
    EXPECT_TRUE(Contains(log, "Port " + popFound + " opened for listening"));
    EXPECT_TRUE(Contains(log, "Port " + smtpFound + " opened for listening"));
    EXPECT_FALSE(controller.PopWarning());
    EXPECT_FALSE(controller.RetryTimerActive());
    controller.FormDestroy();
  }
  const std::string settings = ReadFileText(Folder / "Settings.ini");
  EXPECT_NE(settings.find("PopPort=" + popFound + "\r\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("SmtpPort=" + smtpFound + "\r\n"), std::string::npos) << settings;
  // BulkMail is written ahead of PopPort in a new file.
  EXPECT_LT(settings.find("BulkMail="), settings.find("PopPort="));

  // The next start is no first run: the stored ports are used as they are.
  TQuorHotController again(options);
  again.FormCreate();
  EXPECT_FALSE(again.FirstRun());
  EXPECT_EQ(std::to_string(again.PopServer().BoundPort()), popFound);
}

TEST_F(ControllerTest, CommandLinePortsReplaceStoredOnesAndAreSaved) {
  const int storedPop = FreePort(), storedSmtp = FreePort();
  const std::string pop = std::to_string(FreePort()), smtp = std::to_string(FreePort());
  TControllerOptions options = Options();
  options.PopPort = pop;
  options.SmtpPort = smtp;
  for (const bool firstRun : {true, false}) {
    SCOPED_TRACE(firstRun ? "first run" : "stored ports");
    if (firstRun) {
      fs::remove(Folder / "Settings.ini");
    } else {
      WriteSettings(storedPop, storedSmtp, "[Log]\r\nLogDays=3\r\n");
    }
    {
      TQuorHotController controller(options);
      controller.FormCreate();
      EXPECT_EQ(controller.FirstRun(), firstRun);
      EXPECT_EQ(std::to_string(controller.PopServer().BoundPort()), pop);
      EXPECT_EQ(std::to_string(controller.SmtpServer().BoundPort()), smtp);
      EXPECT_EQ(controller.Controls.PopPort, pop);
      // Given ports are not probed for, nor are stored ones opened first.
      EXPECT_EQ(CountStartingWith(controller.Log().Buffer(), "Port "), 0);
      EXPECT_EQ(CountStartingWith(controller.Log().Buffer(), "Failed to open port"), 0);
      controller.FormDestroy();
    }
    const std::string settings = ReadFileText(Folder / "Settings.ini");
    EXPECT_NE(settings.find("PopPort=" + pop + "\r\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("SmtpPort=" + smtp + "\r\n"), std::string::npos) << settings;
    if (!firstRun) {
      EXPECT_NE(settings.find("LogDays=3\r\n"), std::string::npos) << settings;
    }
  }
  // Without the options the saved ports are what the next start uses.
  TQuorHotController again(Options());
  again.FormCreate();
  EXPECT_EQ(std::to_string(again.PopServer().BoundPort()), pop);
  again.FormDestroy();
}

TEST_F(ControllerTest, RefusedPortWarnsOnceAndOpensWhenFreed) {
  auto blocker = std::make_unique<TPortBlocker>();
  const int pop = blocker->Port;
  WriteSettings(pop, FreePort());
  TQuorHotController controller(Options());
  controller.FormCreate();
  EXPECT_FALSE(controller.PopServer().Active());
  EXPECT_TRUE(controller.SmtpServer().Active());
  EXPECT_TRUE(controller.PopWarning());
  EXPECT_TRUE(controller.RetryTimerActive());
  ASSERT_EQ(Notifier.Texts.size(), 1u);
  EXPECT_EQ(Notifier.Texts[0].rfind("Failed to open POP port for listening on port " +
                                        std::to_string(pop) + ".\r\nThere could be",
                                    0),
            0u);

  // Retried every second: after a few tries the port is still taken, and the
  // failure was reported once, not once per try.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
  while (std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  const std::string failed = "Failed to open port " + std::to_string(pop) + " for listening";
  EXPECT_EQ(CountStartingWith(controller.Log().Buffer(), failed), 1);
  EXPECT_EQ(Notifier.Texts.size(), 1u);

  blocker.reset();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!controller.PopServer().Active() && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_TRUE(controller.PopServer().Active());
  EXPECT_FALSE(controller.PopWarning());
  EXPECT_FALSE(controller.RetryTimerActive());
  EXPECT_TRUE(Contains(controller.Log().Buffer(),
                       "Listening port " + std::to_string(pop) + " opened for POP"));

  // A port number the listener cannot hold fails instead of opening another
  // port; a port text that is no number is the default, here refused too.
  controller.Controls.PopPort = "70000";
  controller.UpdateControls();
  EXPECT_FALSE(controller.PopServer().Active());
  EXPECT_TRUE(controller.PopWarning());
  EXPECT_TRUE(Contains(controller.Log().Buffer(), "Failed to open port 70000 for listening"));
  controller.Controls.PopPort = " " + std::to_string(pop) + "  ";
  controller.UpdateControls();
  EXPECT_TRUE(controller.PopServer().Active());
  EXPECT_EQ(controller.PopServer().BoundPort(), pop);
}

TEST_F(ControllerTest, LogLinesCarryServerPrefixNumberAndTime) {
  WriteSettings(FreePort(), FreePort());
  TQuorHotController controller(Options());
  controller.FormCreate();
  controller.PopServer().Log("hello", 5, false);
  controller.SmtpServer().Log("bad\r\nthing", 5, true);
  TBasicWebMailSession *session = controller.Pool().NeedSession("u@hotmail.com", "pw");
  ASSERT_NE(session, nullptr);
  session->Log("from the session", 5, false);
  session->Log("it failed", 5, true);
  controller.PopServer().Log("", 5, false);

  QTcpSocket client;
  client.connectToHost("127.0.0.1", static_cast<quint16>(controller.PopServer().BoundPort()));
  ASSERT_TRUE(client.waitForConnected(5000));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (CountStartingWith(controller.Log().Buffer(), "POP   001 - 10:11:12 - ") == 0 &&
         std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

  const TStringList &log = controller.Log().Buffer();
  EXPECT_TRUE(Contains(log, "POP   000 - 10:11:12 - hello"));
  EXPECT_TRUE(Contains(log, "SMTP  000 - 10:11:12 - Error - bad<CRLF>thing"));
  EXPECT_TRUE(Contains(log, "SMTP  000 - 10:11:12 - from the session"));
  EXPECT_TRUE(Contains(log, "SMTP  000 - 10:11:12 Error - it failed"));
  EXPECT_GE(CountStartingWith(log, "POP   001 - 10:11:12 - "), 1);
  EXPECT_TRUE(Contains(log, "Application Started 05 Dec 2026 10:11:12 Vers:" + GetVersionText()));
  // What the window shows is what the buffer holds, line for line.
  EXPECT_EQ(Shown, log);
}

TEST_F(ControllerTest, DailyFileIsWrittenAtTheDayChangeAndOldFilesGo) {
  WriteSettings(FreePort(), FreePort(), "[Log]\r\nLogDays=2\r\n");
  const fs::path logs = Folder / "Logs";
  fs::create_directories(logs);
  for (int day = 1; day <= 4; ++day)
    std::ofstream(logs / TDailyLog::FileNameFor(LocalTime(2026, 12, day, 12, 0, 0))) << "old\r\n";
  std::ofstream(logs / "notes.log") << "someone else's\n";
  std::ofstream(logs / "05 DEC 2026.LOG.txt") << "not a daily file\n";

  TQuorHotController controller(Options());
  controller.FormCreate();
  EXPECT_EQ(controller.Log().LogDir, logs.string());
  // Today (5th) and the two days before stay; the 1st and 2nd are gone.
  EXPECT_FALSE(fs::exists(logs / "01 Dec 2026.log"));
  EXPECT_FALSE(fs::exists(logs / "02 Dec 2026.log"));
  EXPECT_TRUE(fs::exists(logs / "03 Dec 2026.log"));
  EXPECT_TRUE(fs::exists(logs / "04 Dec 2026.log"));
  EXPECT_TRUE(fs::exists(logs / "notes.log"));
  EXPECT_TRUE(fs::exists(logs / "05 DEC 2026.LOG.txt"));

  controller.AddLogLine("late on the 5th");
  Now = LocalTime(2026, 12, 5, 23, 30, 0);
  controller.DeleteLogsTimerTimer();
  EXPECT_FALSE(fs::exists(logs / "05 Dec 2026.log"));  // same day: nothing flushed yet
  EXPECT_TRUE(Contains(controller.Log().Buffer(), "late on the 5th"));

  Now = LocalTime(2026, 12, 6, 0, 30, 0);
  controller.DeleteLogsTimerTimer();
  const std::string written = ReadFileText(logs / "06 Dec 2026.log");
  EXPECT_NE(written.find("late on the 5th\r\n"), std::string::npos);
  EXPECT_NE(written.find("Application Started"), std::string::npos);
  EXPECT_TRUE(controller.Log().Buffer().empty());
  EXPECT_FALSE(fs::exists(logs / "03 Dec 2026.log"));
  EXPECT_TRUE(fs::exists(logs / "04 Dec 2026.log"));

  controller.AddLogLine("on the 6th");
  controller.FormDestroy();
  const std::string closed = ReadFileText(logs / "06 Dec 2026.log");
  EXPECT_NE(
      closed.find("on the 6th\r\nApplication Closed\r\n\r\n" + std::string(64, '-') + "\r\n\r\n"),
      std::string::npos);
  // Nothing is added once the application is ending.
  controller.AddLogLine("after the end");
  EXPECT_TRUE(controller.Log().Buffer().empty());
}

TEST(DailyLog, KeepDaysTextAndFolderFallbacks) {
  const fs::path folder = fs::temp_directory_path() / ("brelvane-dailylog-" + RandomText(10));
  fs::create_directories(folder / "Logs");
  const auto now = LocalTime(2026, 3, 10, 12, 0, 0);
  TDailyLog log(folder.string(), [&] { return now; });
  for (int day = 1; day <= 10; ++day)
    std::ofstream(folder / "Logs" / TDailyLog::FileNameFor(LocalTime(2026, 3, day, 12, 0, 0)))
        << "x";
  log.LogDays = " many ";  // not a number: a week besides today
  log.NormaliseFolder();
  EXPECT_EQ(log.LogDir, (folder / "Logs").string());
  log.DeleteOldLogs();
  int left = 0;
  for (const auto &entry : fs::directory_iterator(folder / "Logs")) left += entry.is_regular_file();
  EXPECT_EQ(left, 8);
  EXPECT_FALSE(fs::exists(folder / "Logs" / "02 Mar 2026.log"));
  EXPECT_TRUE(fs::exists(folder / "Logs" / "03 Mar 2026.log"));
  log.LogDays = "-1";
  log.DeleteOldLogs();
  EXPECT_TRUE(fs::is_empty(folder / "Logs"));

  // A folder given with a trailing separator loses it; one that cannot be
  // made falls back to the program folder's Logs.
  log.LogDir = (folder / "mine").string() + "/";
  log.NormaliseFolder();
  EXPECT_EQ(log.LogDir, (folder / "mine").string());
  EXPECT_TRUE(fs::is_directory(folder / "mine"));
  std::ofstream(folder / "plainfile") << "x";
  log.LogDir = (folder / "plainfile" / "sub").string();
  log.NormaliseFolder();
  EXPECT_EQ(log.LogDir, (folder / "Logs").string());

  // With no folder to write to, the lines stay for a later flush.
  log.Add("kept");
  TDailyLog nowhere((folder / "plainfile").string(), [&] { return now; });
  nowhere.Add("kept");
  EXPECT_FALSE(nowhere.Flush());
  EXPECT_EQ(nowhere.Buffer(), TStringList{"kept"});
  fs::remove_all(folder);
}

// A gateway under steady load logs thousands of lines an hour: they must
// reach the file in batches instead of piling up in memory until midnight,
// in order and each once, and the day's count still tells the window when a
// new day begins.
TEST(DailyLog, LongDaysGoToTheFileInBatchesInOrder) {
  const fs::path folder = fs::temp_directory_path() / ("brelvane-dailylog-" + RandomText(10));
  fs::create_directories(folder / "Logs");
  auto now = LocalTime(2026, 3, 10, 12, 0, 0);
  TDailyLog log(folder.string(), [&] { return now; });
  log.NormaliseFolder();
  const size_t total = TDailyLog::kWriteBatchLines * 2 + 7;
  for (size_t i = 0; i < total; ++i) {
    const std::string line = "line " + std::to_string(i) + (i == 3 ? "\r\nsplit" : "");
    EXPECT_EQ(log.Add(line), i == 3 ? "line 3<CRLF>split" : line);
    EXPECT_LT(log.Buffer().size(), TDailyLog::kWriteBatchLines);
  }
  EXPECT_EQ(log.LinesToday(), total);
  EXPECT_EQ(log.Buffer().size(), 7u);
  ASSERT_TRUE(log.Flush());
  EXPECT_TRUE(log.Buffer().empty());
  std::string expected;
  for (size_t i = 0; i < total; ++i)
    expected += "line " + std::to_string(i) + (i == 3 ? "<CRLF>split" : "") + "\r\n";
  EXPECT_EQ(ReadFileText(folder / "Logs" / "10 Mar 2026.log"), expected);
  // A flush on the same day keeps counting; the first flush of a new day
  // starts the count again.
  EXPECT_EQ(log.LinesToday(), total);
  now = LocalTime(2026, 3, 11, 0, 30, 0);
  log.HourlyTick();
  EXPECT_EQ(log.LinesToday(), 0u);
  log.Add("next day");
  EXPECT_EQ(log.LinesToday(), 1u);
  fs::remove_all(folder);
}

TEST_F(ControllerTest, RememberedAccountSurvivesARestartScrambled) {
  WriteSettings(FreePort(), FreePort());
  {
    TQuorHotController controller(Options());
    controller.FormCreate();
    TBasicWebMailSession *session = controller.Pool().NeedSession("mem@hotmail.com", "Pa55 word");
    ASSERT_NE(session, nullptr);
    std::string error;
    session->Logon("mem@hotmail.com", "Pa55 word", error);
    controller.FormDestroy();
    EXPECT_EQ(controller.Pool().Count(), 0);
  }
  const std::string settings = ReadFileText(Folder / "Settings.ini");
  EXPECT_EQ(settings.find("mem@hotmail.com"), std::string::npos);
  EXPECT_EQ(settings.find("Pa55 word"), std::string::npos);
  EXPECT_NE(settings.find("cnonce="), std::string::npos);
  EXPECT_NE(settings.find("LastChallange="), std::string::npos);

  TQuorHotController controller(Options());
  controller.FormCreate();
  EXPECT_EQ(controller.Pool().RememberedUserId(), "mem@hotmail.com");
  EXPECT_EQ(controller.Pool().RememberedPassword(), "Pa55 word");
  TBasicWebMailSession *unauthenticated = controller.Pool().NeedSession("", "");
  ASSERT_NE(unauthenticated, nullptr);
  EXPECT_EQ(unauthenticated->GetUserId(), "mem@hotmail.com");
}

TEST_F(ControllerTest, DamagedSettingsFileStartsWithDefaultsAndSaysSo) {
  const int pop = FreePort(), smtp = FreePort();
  {
    std::ofstream out(Folder / "Settings.ini", std::ios::binary);
    out << std::string("\x00\x01\xff\xfe garbage\r\n", 15) << std::string(2 << 20, 'z') << "\r\n";
    out << "[Receiving]\r\nMarkRead=\x02\x03\r\nPopPort=" << pop
        << "\r\nLongKey=" << std::string(1 << 20, 'q') << "\r\n[Sending]\r\nSmtpPort=" << smtp
        << "\r\n"
        << "[Log]\r\nLogDays=3\r\nLogDir=" << std::string(5000, 'd') << "\r\n";
  }
  TQuorHotController controller(Options());
  controller.FormCreate();
  EXPECT_TRUE(controller.Controls.MarkRead);
  EXPECT_TRUE(controller.Controls.CloseToTray);
  EXPECT_TRUE(controller.PopServer().Active());
  EXPECT_EQ(controller.Log().LogDir, (Folder / "Logs").string());
  EXPECT_TRUE(Contains(controller.Log().Buffer(), "Settings file " +
                                                      (Folder / "Settings.ini").string() +
                                                      " lacks [Application]; defaults used there"));
  controller.FormDestroy();

  // A file with nothing readable in it at all.
  {
    std::ofstream out(Folder / "Settings.ini", std::ios::binary | std::ios::trunc);
    out << std::string("\x00\x9f\x10junk junk\n\x7f", 15);
  }
  TControllerOptions options = Options();
  TQuorHotController second(options);
  // The stored ports are gone with the file's sections; keep the test off
  // the default ports below 1024 by holding the defaults' text.
  second.Controls.PopPort = std::to_string(FreePort());
  second.Controls.SmtpPort = std::to_string(FreePort());
  second.FormCreate();
  EXPECT_TRUE(Contains(second.Log().Buffer(), "Settings file " +
                                                  (Folder / "Settings.ini").string() +
                                                  " holds no readable settings; defaults used"));
  EXPECT_EQ(second.Log().LogDays, "3");
}

TEST_F(ControllerTest, UnwritableProgramFolderIsReported) {
  std::ofstream(Folder / "a-file") << "x";
  TControllerOptions options = Options();
  options.ProgramFolder = (Folder / "a-file" / "home").string();
  options.PopProbeStart = FreePort();
  options.SmtpProbeStart = FreePort();
  TQuorHotController controller(options);
  EXPECT_FALSE(controller.FormCreate());
  ASSERT_FALSE(Notifier.Texts.empty());
  EXPECT_NE(Notifier.Texts[0].find("cannot be written"), std::string::npos);
  EXPECT_EQ(
      CountStartingWith(controller.Log().Buffer(),
                        "Error - Program folder " + options.ProgramFolder + " cannot be written"),
      1);
}

TEST_F(ControllerTest, OnlyTheFirstUncaughtExceptionIsLogged) {
  TControllerOptions options = Options();
  TQuorHotController controller(options);
  EXPECT_FALSE(controller.HandleUncaughtException("first", false));
  EXPECT_FALSE(controller.HandleUncaughtException("second", false));
  EXPECT_TRUE(Contains(controller.Log().Buffer(), "Error:first"));
  EXPECT_FALSE(Contains(controller.Log().Buffer(), "Error:second"));

  TQuorHotController other(options);
  EXPECT_FALSE(other.HandleUncaughtException("socket went away", true));
  EXPECT_FALSE(other.HandleUncaughtException("Stack overflow", false));  // not the first
  EXPECT_TRUE(other.Log().Buffer().empty());
  TQuorHotController third(options);
  EXPECT_TRUE(third.HandleUncaughtException("Stack overflow at 0x1", false));
}
