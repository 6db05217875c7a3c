#include "app/QuorHotController.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "config/QuorIniFile.h"
#include "config/ValueScrambler.h"
#include "foundation/QuorUtil.h"
#include "sessions/Notifier.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRetryIntervalMs = 1000;
constexpr int kDeleteLogsIntervalMs = 3600000;
constexpr int kMaxConnections = 50;
constexpr int kPopTimeOutMs = 300000;
constexpr int kSmtpTimeOutMs = 120000;
constexpr int kProbeStep = 100;
constexpr int kProbeLimit = 1000;

// Whether listening on Port fails because the process lacks the privilege
// for it rather than because someone holds it. Asked of the kernel directly:
// the socket library's error text does not tell the two apart reliably.
bool DeniedForLackOfPrivilege(const std::string &address, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1)
    where.sin_addr.s_addr = INADDR_ANY;
  const bool denied =
      ::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 && errno == EACCES;
  ::close(fd);
  return denied;
}

std::string Pad3(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", number);
  return text;
}

// Settings the controller reads and writes, section by section.
const char *const kSections[] = {"Application", "Receiving", "Sending", "Log"};

}  // namespace

TQuorHotController::TQuorHotController(TControllerOptions options)
    : FOptions(std::move(options)),
      FProgramFolder(FOptions.ProgramFolder.empty() ? GetProgramFolder() : FOptions.ProgramFolder),
      FLog(FProgramFolder, FOptions.Clock) {
  FRetryTimer.setInterval(kRetryIntervalMs);
  QObject::connect(&FRetryTimer, &QTimer::timeout, [this] { UpdateControls(); });
  FDeleteLogsTimer.setInterval(kDeleteLogsIntervalMs);
  QObject::connect(&FDeleteLogsTimer, &QTimer::timeout, [this] { DeleteLogsTimerTimer(); });
}

TQuorHotController::~TQuorHotController() {
  if (FCreated) FormDestroy();
}

std::string TQuorHotController::Now(const char *format) const {
  const std::time_t t = std::chrono::system_clock::to_time_t(FLog.Now());
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[64];
  std::strftime(text, sizeof text, format, &tm);
  return text;
}

void TQuorHotController::AddLogLine(const std::string &line) {
  if (FTerminating) return;
  const std::string kept = FLog.Add(line);
  if (FOptions.OnLogLine) FOptions.OnLogLine(kept);
}

bool TQuorHotController::ServerLog(TQuorServer *server, TQuorServerSpawnedSocket *spawned,
                                   const std::string &text, bool error) {
  const int number = spawned ? spawned->ConnectionNumber() : 0;
  FLogPrefix = std::string(server == FSmtpServer.get() ? "SMTP  " : "POP   ") + Pad3(number) +
               " - " + Now("%H:%M:%S");
  if (text.empty())
    AddLogLine("");
  else
    AddLogLine(FLogPrefix + (error ? " - Error - " : " - ") + text);
  // The line is shown here; the diagnostic file does not need it as well.
  return false;
}

void TQuorHotController::SessionLog(const std::string &text, bool error) {
  AddLogLine(FLogPrefix + (error ? " Error - " : " - ") + text);
}

bool TQuorHotController::CheckProgramFolder() {
  std::error_code ec;
  fs::create_directories(FProgramFolder, ec);
  std::string reason;
  if (!fs::is_directory(FProgramFolder, ec)) {
    reason = ec ? ec.message() : "not a folder";
  } else {
    const std::string probe = FProgramFolder + "/.write-check-" + RandomText(8);
    std::ofstream out(probe, std::ios::binary);
    out << "x";
    out.close();
    if (!out) reason = std::strerror(errno);
    fs::remove(probe, ec);
  }
  if (reason.empty()) return true;
  const std::string text = "Program folder " + FProgramFolder + " cannot be written (" + reason +
                           "): settings, log files and the download record will not be kept.";
  AddLogLine("Error - " + text);
  NotifyUser("Brelvane", text);
  return false;
}

void TQuorHotController::ProbePort(TQuorServer &server, int start, int unprivilegedStart,
                                   std::string &portText) {
  int port = start;
  // Probing stops above 1000 from the usual ports; a start above that (the
  // unprivileged range, a test's own port) gets the same ten tries.
  int limit = start <= kProbeLimit ? kProbeLimit : start + 9 * kProbeStep;
  bool switched = false;
  while (port <= limit && port <= 65535) {
    try {
      if (server.Active()) server.SetActive(false);
      server.SetPort(port);
      server.SetActive(true);
    } catch (const std::exception &) {
    }
    if (server.Active()) break;
    AddLogLine("Failed to open port " + std::to_string(port) + " for listening");
    if (!switched && port < 1024 && DeniedForLackOfPrivilege(server.ListenAddress(), port)) {
      switched = true;
      AddLogLine("Ports below 1024 need privileges; probing from " +
                 std::to_string(unprivilegedStart) + " instead");
      port = unprivilegedStart;
      limit = unprivilegedStart <= kProbeLimit ? kProbeLimit : unprivilegedStart + 9 * kProbeStep;
      continue;
    }
    port += kProbeStep;
  }
  if (server.Active()) {
    AddLogLine("Port " + std::to_string(port) + " opened for listening");
    portText = std::to_string(port);
  }
}

// A port given on the command line needs no probe (nor the privileges a
// probe from 110 or 25 may ask for).
void TQuorHotController::ProbeFirstRunPorts() {
  if (FOptions.PopPort.empty())
    ProbePort(*FPopServer, FOptions.PopProbeStart, FOptions.PopUnprivilegedStart, Controls.PopPort);
  if (FOptions.SmtpPort.empty())
    ProbePort(*FSmtpServer, FOptions.SmtpProbeStart, FOptions.SmtpUnprivilegedStart,
              Controls.SmtpPort);
}

bool TQuorHotController::FormCreate(int argc, char **argv) {
  if (FCreated) return true;
  FCreated = true;
  ++FUpdateDepth;

  FPool = std::make_unique<TSessionPool>(FOptions.SessionFactory);
  FPool->SetTerminateFlag(&FTerminating);
  FPool->SetOnLog(
      [this](const std::string &text, uint8_t, bool error) { SessionLog(text, error); });
  const TOnNeedSession provider = [this](const std::string &userId, const std::string &password) {
    return FPool->NeedSession(userId, password);
  };
  const TServerLogEvent onLog = [this](TQuorServer *server, TQuorServerSpawnedSocket *spawned,
                                       const std::string &text, uint8_t, bool error) {
    return ServerLog(server, spawned, text, error);
  };

  FPopServer = std::make_unique<TPop3HotmailServer>();
  FPopServer->SetBanner("+OK Welcome to Brelvane POP gateway");
  FPopServer->MarkRead = true;
  FPopServer->UnreadOnly = false;
  FPopServer->SetMaxConnections(kMaxConnections);
  FPopServer->SetPort(110);
  FPopServer->SetRestrictToLocalHost(true);
  // A developer stepping through a session must not be cut off.
  FPopServer->SetTimeOut(IsDeveloperMode() ? INT_MAX : kPopTimeOutMs);
  FPopServer->SetTranscriptFileName("Pop3HotmailServer");
  FPopServer->SetListenAddress(FOptions.ListenAddress);
  FPopServer->SetDownloadRecordPath(FProgramFolder + "/DownloadRecord.sqlite");
  FPopServer->SetTerminateFlag(&FTerminating);
  FPopServer->SetOnLog(onLog);
  FPopServer->OnNeedSession = provider;

  FSmtpServer = std::make_unique<TESMTPHotmailServer>();
  FSmtpServer->SetBanner("220 Welcome to the Brelvane SMTP gateway.");
  FSmtpServer->SetMaxConnections(kMaxConnections);
  FSmtpServer->SetPort(25);
  FSmtpServer->SetRestrictToLocalHost(true);
  FSmtpServer->SaveInSent = true;
  FSmtpServer->SetTimeOut(kSmtpTimeOutMs);
  FSmtpServer->SetTranscriptFileName("ESMTPHotmailServer");
  FSmtpServer->SetListenAddress(FOptions.ListenAddress);
  FSmtpServer->SetOnLog(onLog);
  FSmtpServer->OnNeedSession = provider;

  const bool folderOk = CheckProgramFolder();

  std::error_code ec;
  FFirstRun = !fs::exists(SettingsPath(), ec);
  if (FFirstRun) ProbeFirstRunPorts();
  ReadSettings();
  if (!FOptions.PopPort.empty()) Controls.PopPort = FOptions.PopPort;
  if (!FOptions.SmtpPort.empty()) Controls.SmtpPort = FOptions.SmtpPort;
  --FUpdateDepth;
  UpdateControls();

  FLog.DeleteOldLogs();
  AddLogLine("Application Started " + TDailyLog::DateTextForDay(TDailyLog::DayNumber(FLog.Now())) +
             Now(" %H:%M:%S") + " Vers:" + GetVersionText());
  FDeleteLogsTimer.start();

  for (int i = 1; i < argc; ++i)
    if (argv && argv[i] && SameText(argv[i], "-Minimize")) FMinimized = true;
  return folderOk;
}

void TQuorHotController::ReadSettings() {
  ++FUpdateDepth;
  std::error_code ec;
  const bool existed = fs::exists(SettingsPath(), ec);
  TQuorIniFile ini(SettingsPath());
  if (existed) {
    std::string missing;
    int found = 0;
    for (const char *section : kSections) {
      bool present = false;
      for (const auto &entry : ini.Sections)
        if (SameText(entry.first, std::string("[") + section + "]")) present = true;
      if (present)
        ++found;
      else
        missing += std::string(missing.empty() ? "" : ", ") + "[" + section + "]";
    }
    if (found == 0)
      AddLogLine("Settings file " + SettingsPath() + " holds no readable settings; defaults used");
    else if (!missing.empty())
      AddLogLine("Settings file " + SettingsPath() + " lacks " + missing + "; defaults used there");
  }

  TControls &c = Controls;
  c.CloseToTray = ini.ReadBool("Application", "CloseToTray", c.CloseToTray);
  const std::string userId = UnscrambleValue(ini.ReadString("Application", "cnonce", ""));
  const std::string password = UnscrambleValue(ini.ReadString("Application", "LastChallange", ""));
  if (!userId.empty() && !password.empty()) FPool->SetRememberedAccount(userId, password);

  c.MarkRead = ini.ReadBool("Receiving", "MarkRead", c.MarkRead);
  c.UnreadOnly = ini.ReadBool("Receiving", "UnReadOnly", c.UnreadOnly);
  c.NoDuplicates = ini.ReadBool("Receiving", "NoDuplicates", c.NoDuplicates);
  c.LocalPop = ini.ReadBool("Receiving", "LocalOnly", c.LocalPop);
  c.PopPort = ini.ReadString("Receiving", "PopPort", c.PopPort);
  c.BulkMail = ini.ReadBool("Receiving", "BulkMail", c.BulkMail);

  c.SmtpPort = ini.ReadString("Sending", "SmtpPort", c.SmtpPort);
  c.LocalSmtp = ini.ReadBool("Sending", "LocalOnly", c.LocalSmtp);
  c.SaveSent = ini.ReadBool("Sending", "SaveInSent", c.SaveSent);

  c.SaveLogs = ini.ReadBool("Log", "SaveLogs", c.SaveLogs);
  FLog.LogDir = ini.ReadString("Log", "LogDir", FLog.LogDir);
  FLog.LogDays = ini.ReadString("Log", "LogDays", FLog.LogDays);
  // A remembered folder that has gone is not made again behind the user's back.
  if (!FLog.LogDir.empty() && !fs::is_directory(FLog.LogDir, ec)) FLog.LogDir.clear();
  // Reading never writes: nothing may come of a file that was only looked at.
  ini.Modified = false;
  LogDirEditExit();
  --FUpdateDepth;
}

void TQuorHotController::WriteSettings() {
  std::error_code ec;
  const bool logDirExists = !FLog.LogDir.empty() && fs::is_directory(FLog.LogDir, ec);
  TQuorIniFile ini(SettingsPath());
  const TControls &c = Controls;
  ini.WriteBool("Application", "CloseToTray", c.CloseToTray);
  ini.WriteString("Application", "cnonce", ScrambleValue(FPool->RememberedUserId()));
  ini.WriteString("Application", "LastChallange", ScrambleValue(FPool->RememberedPassword()));
  ini.WriteBool("Receiving", "MarkRead", c.MarkRead);
  ini.WriteBool("Receiving", "UnReadOnly", c.UnreadOnly);
  ini.WriteBool("Receiving", "NoDuplicates", c.NoDuplicates);
  ini.WriteBool("Receiving", "LocalOnly", c.LocalPop);
  ini.WriteBool("Receiving", "BulkMail", c.BulkMail);
  ini.WriteString("Receiving", "PopPort", c.PopPort);
  ini.WriteString("Sending", "SmtpPort", c.SmtpPort);
  ini.WriteBool("Sending", "LocalOnly", c.LocalSmtp);
  ini.WriteBool("Sending", "SaveInSent", c.SaveSent);
  ini.WriteBool("Log", "SaveLogs", c.SaveLogs);
  ini.WriteString("Log", "LogDir", logDirExists ? FLog.LogDir : "");
  ini.WriteString("Log", "LogDays", FLog.LogDays);
  std::string error;
  if (ini.Modified && !ini.UpdateFile(&error))
    AddLogLine("Error - Failed to write " + SettingsPath() + ": " + error);
}

void TQuorHotController::ApplyPort(TQuorServer &server, const std::string &portText,
                                   int defaultPort, const char *name, bool &warning) {
  const int port = StrToIntDef(Trim(portText), defaultPort);
  const std::string portName = std::to_string(port);
  try {
    if (port != server.Port()) {
      if (server.Active()) server.SetActive(false);
      server.SetPort(port);
    }
  } catch (const std::exception &) {
  }
  if (!server.Active()) {
    bool opened = false;
    // The listener takes a 16-bit port; a larger number must fail rather than
    // open some other port.
    if (port >= 1 && port <= 65535 && server.Port() == port) {
      try {
        server.SetActive(true);
        opened = server.Active();
      } catch (const std::exception &) {
      }
    }
    if (!opened && !warning) {
      AddLogLine("Failed to open port " + portName + " for listening");
      NotifyUser("Brelvane", std::string("Failed to open ") + name +
                                 " port for listening on port " + portName + ".\r\n" +
                                 "There could be another application using this port.\r\n" +
                                 "Alternatively, if you have a personal firewall like ZoneAlarm "
                                 "running you must allow this program to act as a server.");
    }
    if (opened) AddLogLine("Listening port " + portName + " opened for " + name);
  }
  warning = !server.Active();
}

void TQuorHotController::UpdateControls() {
  if (FUpdateDepth > 0 || !FPopServer || FDestroyed) return;
  ++FUpdateDepth;
  FPopServer->MarkRead = Controls.MarkRead;
  FPopServer->UnreadOnly = Controls.UnreadOnly;
  FPopServer->NoDups = Controls.NoDuplicates;
  FPopServer->SetRestrictToLocalHost(Controls.LocalPop);
  FPopServer->GetBulkmail = Controls.BulkMail;
  ApplyPort(*FPopServer, Controls.PopPort, 110, "POP", FPopWarning);

  FSmtpServer->SetRestrictToLocalHost(Controls.LocalSmtp);
  FSmtpServer->SaveInSent = Controls.SaveSent;
  ApplyPort(*FSmtpServer, Controls.SmtpPort, 25, "SMTP", FSmtpWarning);

  if (FPopWarning || FSmtpWarning) {
    if (!FRetryTimer.isActive()) FRetryTimer.start();
  } else {
    FRetryTimer.stop();
  }
  --FUpdateDepth;
  if (FOptions.OnControlsUpdated) FOptions.OnControlsUpdated();
}

void TQuorHotController::LogDirEditExit() { FLog.NormaliseFolder(); }

void TQuorHotController::DeleteLogsTimerTimer() { FLog.HourlyTick(); }

bool TQuorHotController::HandleUncaughtException(const std::string &message, bool socketError) {
  if (FExceptionSeen) return false;
  FExceptionSeen = true;
  if (!socketError) AddLogLine("Error:" + message);
  return message.find("Stack overflow") != std::string::npos;
}

void TQuorHotController::FormDestroy() {
  if (!FCreated || FDestroyed) return;
  // Writing the settings lets the loop run; a retry tick must not reopen a
  // port now.
  ++FUpdateDepth;
  FRetryTimer.stop();
  AddLogLine("Application Closed");
  AddLogLine("");
  AddLogLine(std::string(64, '-'));
  AddLogLine("");
  WriteSettings();
  FLog.Flush();
  FLog.DeleteOldLogs();
  FDestroyed = true;
  FTerminating = true;
  FRetryTimer.stop();
  FDeleteLogsTimer.stop();
  // Ending the connections runs their clean-up, which still borrows pooled
  // sessions: the servers go before the pool.
  for (TQuorServer *server : {static_cast<TQuorServer *>(FPopServer.get()),
                              static_cast<TQuorServer *>(FSmtpServer.get())}) {
    try {
      server->SetActive(false);
    } catch (const std::exception &) {
    }
  }
  // A connection whose handler is still on the stack (shut-down arrived
  // while it waited on the network) still holds its session; the pool then
  // goes with the controller, once the loop has unwound.
  if (FPopServer->Connections().empty() && FSmtpServer->Connections().empty()) FPool->Clear();
}
