#pragma once
// The logic behind the main window, usable without one: owns the two
// gateway servers and the session pool, applies the settings file to them,
// keeps the window's log with its daily files, and starts and stops it all.
// Everything runs on the main thread.
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/DailyLog.h"
#include "servers/ESMTPHotmailServer.h"
#include "servers/Pop3HotmailServer.h"
#include "sessions/SessionPool.h"

struct TControllerOptions {
  std::string ProgramFolder;  // empty: GetProgramFolder()
  TControllerClock Clock;     // empty: the system clock
  // Where first-run port probing starts, and where it goes on when ports
  // below 1024 are refused for lack of privileges.
  int PopProbeStart = 110;
  int SmtpProbeStart = 25;
  int PopUnprivilegedStart = 1110;
  int SmtpUnprivilegedStart = 1025;
  // Interface both servers listen on; "0.0.0.0" lets LocalOnly decide.
  std::string ListenAddress = "0.0.0.0";
  // Ports given on the command line (empty: none). They replace the stored
  // ones as an edit in the window would, and are saved with the settings.
  std::string PopPort;
  std::string SmtpPort;
  TSessionPool::TFactory SessionFactory;  // empty: CreatePooledSession
  // Sees every line added to the log buffer (the headless mode prints them).
  std::function<void(const std::string &line)> OnLogLine;
  // Told after every UpdateControls that ran, the port retries included, so
  // a window can follow the port warnings.
  std::function<void()> OnControlsUpdated;
};

class TQuorHotController {
 public:
  explicit TQuorHotController(TControllerOptions options = {});
  ~TQuorHotController();
  TQuorHotController(const TQuorHotController &) = delete;
  TQuorHotController &operator=(const TQuorHotController &) = delete;

  // What the window's controls hold. Ports stay texts, as the port fields
  // give them.
  struct TControls {
    bool CloseToTray = true;
    bool MarkRead = true;
    bool UnreadOnly = true;
    bool NoDuplicates = true;
    bool LocalPop = true;
    std::string PopPort = "110";
    bool BulkMail = false;
    std::string SmtpPort = "25";
    bool LocalSmtp = true;
    bool SaveSent = true;
    bool SaveLogs = false;
  };
  TControls Controls;

  // Start-up. False when the program folder cannot be written (reported in
  // the log and through the notifier); the servers still run.
  bool FormCreate(int argc = 0, char **argv = nullptr);
  // Shut-down: closing lines, settings written, log flushed, sessions freed.
  // Safe to call twice.
  void FormDestroy();
  // Applies the controls to the servers, (re)opening ports as needed.
  void UpdateControls();
  void DeleteLogsTimerTimer();
  void LogDirEditExit();

  // The application-wide handler for exceptions nobody caught: only the
  // first of the run is logged. True when the application must end.
  bool HandleUncaughtException(const std::string &message, bool socketError);

  // A line of the controller itself, into the log buffer.
  void AddLogLine(const std::string &line);

  TPop3HotmailServer &PopServer() { return *FPopServer; }
  TESMTPHotmailServer &SmtpServer() { return *FSmtpServer; }
  TSessionPool &Pool() { return *FPool; }
  TDailyLog &Log() { return FLog; }
  bool PopWarning() const { return FPopWarning; }
  bool SmtpWarning() const { return FSmtpWarning; }
  bool RetryTimerActive() const { return FRetryTimer.isActive(); }
  bool FirstRun() const { return FFirstRun; }
  bool Created() const { return FCreated && FPopServer && FSmtpServer; }
  bool Minimized() const { return FMinimized; }
  bool Terminating() const { return FTerminating; }
  const std::string &ProgramFolder() const { return FProgramFolder; }
  std::string SettingsPath() const { return FProgramFolder + "/Settings.ini"; }

 private:
  bool ServerLog(TQuorServer *server, TQuorServerSpawnedSocket *spawned, const std::string &text,
                 bool error);
  void SessionLog(const std::string &text, bool error);
  void ProbePort(TQuorServer &server, int start, int unprivilegedStart, std::string &portText);
  void ProbeFirstRunPorts();
  // Opens Server on PortText's port (Default when not a number); Warning
  // shows while it stays closed.
  void ApplyPort(TQuorServer &server, const std::string &portText, int defaultPort,
                 const char *name, bool &warning);
  bool CheckProgramFolder();
  void ReadSettings();
  void WriteSettings();
  std::string Now(const char *format) const;

  TControllerOptions FOptions;
  std::string FProgramFolder;
  TDailyLog FLog;
  std::unique_ptr<TSessionPool> FPool;
  std::unique_ptr<TPop3HotmailServer> FPopServer;
  std::unique_ptr<TESMTPHotmailServer> FSmtpServer;
  QTimer FRetryTimer;
  QTimer FDeleteLogsTimer;
  int FUpdateDepth = 0;
  bool FTerminating = false;  // the sessions' and servers' terminate flag
  bool FCreated = false;
  bool FDestroyed = false;
  bool FFirstRun = false;
  bool FMinimized = false;
  bool FPopWarning = false;
  bool FSmtpWarning = false;
  bool FExceptionSeen = false;
  std::string FLogPrefix;
};
