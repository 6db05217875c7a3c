#pragma once
// The main window: the settings controls on their tabs, the live log, the
// hint pane, the tray icon with its menu, closing to the tray, automatic
// start with the desktop session, context help and the account test. The
// logic behind the settings is the controller; the window shows it and
// hands the user's changes to it.
#include <QDialog>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/AccountCheck.h"
#include "app/AutoStart.h"
#include "app/QuorHotController.h"
#include "sessions/Notifier.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTextBrowser;

struct TMainFormOptions {
  // Whether the desktop offers a tray; empty: ask the desktop.
  std::optional<bool> TrayAvailable;
  // The autostart folder; empty: the XDG default.
  std::string AutoStartFolder;
  // The program the autostart entry starts; empty: this executable.
  std::string Program;
  bool ShowSplash = true;
  // Ends the application; empty: QCoreApplication::quit.
  std::function<void()> Quit;
};

class TQuorHotMainForm : public QWidget, public TNotifier {
 public:
  explicit TQuorHotMainForm(TControllerOptions controllerOptions = {},
                            TMainFormOptions options = {});
  ~TQuorHotMainForm() override;

  // Start-up: splash, controller start, controls loaded, the window shown
  // unless Minimize asks for the tray only. False as the controller's
  // FormCreate (the program folder cannot be written).
  bool FormCreate(int argc = 0, char **argv = nullptr, bool minimize = false);
  // Shut-down, once: the controller writes the settings and the log.
  void FormDestroy();

  // Copies the controls to the controller, applies them, and shows the
  // outcome (port warnings, auto-start mark, ports in the help text).
  void UpdateControls();

  // Event handlers, named as the user knows the commands.
  void Exit1Click();
  void ClosetoTray1Click();
  void AutoStart1Click();
  void CoolTrayIcon1Click();  // also "&Show": brings the window back
  void TrayIconPopupMenuPopup();
  void PageControl1Change();
  void LogMemoDblClick();
  void BrowseButtonClick();
  void SaveLogsCheckBoxClick();
  void UserIdEditChange();
  void LogDirEditExit();
  void LogDaysEditExit();
  void CheckAccountButtonClick();
  void ClearHintTimerTimer();
  // The desktop session ends: leave at once with everything saved.
  void EndSession();
  // Ctrl+Alt+D and Ctrl+L.
  void DeveloperModeKey();
  void DeveloperCheckKey();
  // F1: the help page of the active tab.
  void ShowContextHelp();
  // The help page the active tab has, without ".html"; "Index" for tabs
  // without a page of their own.
  QString ContextHelpTopic() const;

  // Puts Hint ("short|long") into the hint pane and fits the window to it.
  void ShowHint(const QString &hint);
  QString HintPaneText() const;
  QString HelpText() const;
  bool TrayAvailable() const;
  bool Exiting() const { return FExiting; }
  bool Terminated() const { return FTerminated; }
  int DesignHeight() const { return FDesignHeight; }

  void ShowMessage(const std::string &title, const std::string &text) override;

  TQuorHotController &Controller() { return *FController; }
  TAccountCheck &AccountCheck() { return FAccountCheck; }
  TAutoStart &AutoStart() { return *FAutoStart; }
  // The last message of the account test (what its box showed).
  const std::string &LastCheckMessage() const { return FLastCheckMessage; }
  QDialog *HelpWindow() const { return FHelpWindow; }

  // The window's components, by the names the handlers use.
  QTabWidget *PageControl1 = nullptr;
  QWidget *HelpTab = nullptr, *TestAccountTab = nullptr, *ReceivingTab = nullptr,
          *SendingTab = nullptr, *LogTab = nullptr;
  QLabel *HelpLabel = nullptr;
  QLineEdit *UserIdEdit = nullptr, *PasswordEdit = nullptr;
  QPushButton *CheckAccountButton = nullptr;
  QLineEdit *PopPortMaskEdit = nullptr;
  QCheckBox *MarkReadCheckBox = nullptr, *UnreadOnlyCheckBox = nullptr, *LocalPopCheckBox = nullptr,
            *BulkMailCheckBox = nullptr, *CheckBoxNoDups = nullptr;
  QLabel *PopWarningLabel = nullptr;
  QLineEdit *SmtpPortMaskEdit = nullptr;
  QCheckBox *LocalSmtpCheckBox = nullptr, *SaveSentCheckBox = nullptr;
  QLabel *SMTPWarningLabel = nullptr;
  QPlainTextEdit *LogMemo = nullptr;
  QCheckBox *SaveLogsCheckBox = nullptr;
  QWidget *LogPanel = nullptr;
  QLineEdit *LogDirEdit = nullptr, *LogDaysMaskEdit = nullptr;
  QPushButton *BrowseButton = nullptr;
  QPlainTextEdit *HintMemo = nullptr;
  QSplitter *Splitter1 = nullptr;
  QSystemTrayIcon *CoolTrayIcon1 = nullptr;
  QMenu *TrayIconPopupMenu = nullptr;
  QAction *AutoStart1 = nullptr, *ClosetoTray1 = nullptr, *Exit1 = nullptr, *Resore1 = nullptr;
  QTimer ClearHintTimer;
  // Hints follow the mouse at once in the active window, after a pause otherwise.
  QTimer HintPauseTimer;

 protected:
  void closeEvent(QCloseEvent *event) override;
  bool event(QEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void BuildControls();
  QWidget *BuildHelpTab();
  QWidget *BuildTestAccountTab();
  QWidget *BuildReceivingTab();
  QWidget *BuildSendingTab();
  QWidget *BuildLogTab();
  void BuildTray();
  void BuildShortcuts();
  void LoadControls();
  void StoreControls();
  // Shows what the controller's state is now (warnings, marks, help ports).
  void ShowControllerState();
  void AppendLogLine(const std::string &line);
  void HelpLinkActivated(const QString &link);
  // Ends the application after the controller has shut down.
  void Terminate();
  void SetHint(QWidget *widget, const QString &hint);

  TMainFormOptions FOptions;
  std::unique_ptr<TQuorHotController> FController;
  std::unique_ptr<TAutoStart> FAutoStart;
  TAccountCheck FAccountCheck;
  std::string FLastCheckMessage;
  QString FDefaultHint;
  QString FShownHint;
  QString FPendingHint;
  QPointer<QDialog> FHelpWindow;
  QTextBrowser *FHelpBrowser = nullptr;
  int FDesignHeight = 0;
  int FLoading = 0;
  bool FExiting = false;
  bool FTerminated = false;
  bool FChecking = false;
  bool FStopCheck = false;  // the account test's terminate flag
};
