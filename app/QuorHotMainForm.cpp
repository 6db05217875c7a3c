#include "app/QuorHotMainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QShortcut>
#include <QSplashScreen>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <climits>

#include "app/AppIcon.h"
#include "app/HintText.h"
#include "foundation/QuorUtil.h"

namespace {

constexpr int kClearHintIntervalMs = 500;
constexpr int kInactiveHintPauseMs = 750;
constexpr int kLogMemoMaxLines = 50000;
const char *const kTagline = "your webmail in your mail program";
const char *const kTrayHint = "Brelvane by Mirandel";
const char *const kPortWarning = "Unable to aquire port.  Please choose another port.";

QString Q(const std::string &text) { return QString::fromStdString(text); }
std::string S(const QString &text) { return text.toStdString(); }

// A box's text comes with CR LF line ends; Qt wants plain line feeds.
QString BoxText(const std::string &text) {
  QString out = Q(text);
  out.replace("\r\n", "\n");
  return out;
}

QLineEdit *DigitsEdit(int digits, QWidget *parent) {
  auto *edit = new QLineEdit(parent);
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QString("\\d{0,%1}").arg(digits)), edit));
  edit->setMaxLength(digits);
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QString(digits + 2, '0')) + 12);
  return edit;
}

QLabel *WarningLabel(QWidget *parent) {
  auto *label = new QLabel(kPortWarning, parent);
  label->setStyleSheet("color: #c00000; font-weight: bold;");
  label->setVisible(false);
  return label;
}

// The modal copy of the log: both scroll bars, nothing editable, so that a
// long line can be read and any part copied.
void ShowViewText(QWidget *parent, const QString &text) {
  QDialog dialog(parent);
  dialog.setObjectName("ViewTextForm");
  dialog.setWindowTitle("View Text");
  auto *layout = new QVBoxLayout(&dialog);
  auto *memo = new QPlainTextEdit(&dialog);
  memo->setObjectName("ViewTextMemo");
  memo->setReadOnly(true);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setPlainText(text);
  layout->addWidget(memo);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.resize(parent ? parent->width() : 640, parent ? parent->height() : 480);
  dialog.exec();
}

}  // namespace

TQuorHotMainForm::TQuorHotMainForm(TControllerOptions controllerOptions, TMainFormOptions options)
    : FOptions(std::move(options)) {
  auto chainedLog = std::move(controllerOptions.OnLogLine);
  controllerOptions.OnLogLine = [this, chainedLog](const std::string &line) {
    AppendLogLine(line);
    if (chainedLog) chainedLog(line);
  };
  auto chainedUpdate = std::move(controllerOptions.OnControlsUpdated);
  controllerOptions.OnControlsUpdated = [this, chainedUpdate] {
    ShowControllerState();
    if (chainedUpdate) chainedUpdate();
  };
  FController = std::make_unique<TQuorHotController>(std::move(controllerOptions));
  FAutoStart = std::make_unique<TAutoStart>(
      FOptions.Program.empty() ? S(QCoreApplication::applicationFilePath()) : FOptions.Program,
      FOptions.AutoStartFolder);
  FAccountCheck.TerminateFlag = &FStopCheck;
  FAccountCheck.OnLog = [this](const std::string &line) { FController->AddLogLine(line); };

  setObjectName("QuorHotMainForm");
  setWindowIcon(BrelvaneIcon());
  setWindowTitle(Q("Brelvane " + GetVersionText() + " - " + kTagline));
  BuildControls();
  BuildTray();
  BuildShortcuts();
  ClearHintTimer.setInterval(kClearHintIntervalMs);
  connect(&ClearHintTimer, &QTimer::timeout, this, [this] { ClearHintTimerTimer(); });
  HintPauseTimer.setSingleShot(true);
  HintPauseTimer.setInterval(kInactiveHintPauseMs);
  connect(&HintPauseTimer, &QTimer::timeout, this, [this] { ShowHint(FPendingHint); });
  if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
    connect(app, &QGuiApplication::commitDataRequest, this, [this] { EndSession(); });
  }
  connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
          [this] { FormDestroy(); });
  SetNotifier(this);
}

TQuorHotMainForm::~TQuorHotMainForm() {
  FormDestroy();
  FTerminated = true;
  if (GetNotifier() == this) SetNotifier(nullptr);
  ClearHintTimer.stop();
  if (CoolTrayIcon1) CoolTrayIcon1->hide();
  // Taking the window down moves the focus, which finishes an edit; its
  // handler must not reach a controller that is already gone.
  for (QObject *child : findChildren<QObject *>()) child->disconnect(this);
  FController.reset();
}

// ---- building --------------------------------------------------------------

void TQuorHotMainForm::SetHint(QWidget *widget, const QString &hint) {
  widget->setStatusTip(hint);
  widget->setToolTip(Q(HintShortText(S(hint))));
}

void TQuorHotMainForm::BuildControls() {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setObjectName("Splitter1");
  Splitter1->setChildrenCollapsible(false);
  layout->addWidget(Splitter1);

  PageControl1 = new QTabWidget(Splitter1);
  PageControl1->setObjectName("PageControl1");
  HelpTab = BuildHelpTab();
  TestAccountTab = BuildTestAccountTab();
  ReceivingTab = BuildReceivingTab();
  SendingTab = BuildSendingTab();
  LogTab = BuildLogTab();
  PageControl1->addTab(HelpTab, "&Help");
  PageControl1->addTab(TestAccountTab, "Test Account");
  PageControl1->addTab(ReceivingTab, "&Receiving");
  PageControl1->addTab(SendingTab, "&Sending");
  PageControl1->addTab(LogTab, "&Log");
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });

  HintMemo = new QPlainTextEdit(Splitter1);
  HintMemo->setObjectName("HintMemo");
  HintMemo->setReadOnly(true);
  HintMemo->setFocusPolicy(Qt::NoFocus);
  HintMemo->setFrameShape(QFrame::StyledPanel);
  HintMemo->setStyleSheet("QPlainTextEdit { background: palette(window); }");
  FDefaultHint =
      "Hint|Move the mouse over a setting to read about it here.#Press F1 for help on the "
      "current tab.";
  Splitter1->addWidget(PageControl1);
  Splitter1->addWidget(HintMemo);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);

  resize(560, 420);
  Splitter1->setSizes({340, 60});
  FDesignHeight = height();
  ShowHint(FDefaultHint);
}

QWidget *TQuorHotMainForm::BuildHelpTab() {
  auto *tab = new QWidget;
  tab->setObjectName("HelpTab");
  tab->setStatusTip(
      "Help|How to set up your mail program to use Brelvane.#Press F1 for more help.");
  auto *layout = new QVBoxLayout(tab);
  HelpLabel = new QLabel(tab);
  HelpLabel->setObjectName("HelpLabel");
  HelpLabel->setWordWrap(true);
  HelpLabel->setTextFormat(Qt::RichText);
  HelpLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  HelpLabel->setTextInteractionFlags(Qt::TextBrowserInteraction);
  connect(HelpLabel, &QLabel::linkActivated, this,
          [this](const QString &link) { HelpLinkActivated(link); });
  layout->addWidget(HelpLabel);
  layout->addStretch(1);
  return tab;
}

QWidget *TQuorHotMainForm::BuildTestAccountTab() {
  auto *tab = new QWidget;
  tab->setObjectName("TestAccountTab");
  tab->setStatusTip(
      "Test Account|Check that Brelvane can reach your webmail account.#The test logs on to "
      "Brelvane's own POP3 port exactly as your mail program would.");
  auto *layout = new QVBoxLayout(tab);
  auto *intro = new QLabel(
      "Enter your webmail address and password and press Test Account. Brelvane logs on "
      "through its own POP3 port, as your mail program will, and reports what it finds.",
      tab);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  auto *form = new QFormLayout;
  UserIdEdit = new QLineEdit(tab);
  UserIdEdit->setObjectName("UserIdEdit");
  UserIdEdit->setPlaceholderText("someone@hotmail.com");
  SetHint(UserIdEdit, "Email address|Your full webmail address, for example someone@hotmail.com.");
  PasswordEdit = new QLineEdit(tab);
  PasswordEdit->setObjectName("PasswordEdit");
  PasswordEdit->setEchoMode(QLineEdit::Password);
  SetHint(PasswordEdit,
          "Password|The password of your webmail account.#It is used for this "
          "test only and is not stored by the test.");
  auto *userLabel = new QLabel("&Email Address:", tab);
  userLabel->setBuddy(UserIdEdit);
  auto *passwordLabel = new QLabel("&Password:", tab);
  passwordLabel->setBuddy(PasswordEdit);
  form->addRow(userLabel, UserIdEdit);
  form->addRow(passwordLabel, PasswordEdit);
  layout->addLayout(form);
  CheckAccountButton = new QPushButton("Test Account", tab);
  CheckAccountButton->setObjectName("CheckAccountButton");
  CheckAccountButton->setEnabled(false);
  SetHint(CheckAccountButton,
          "Test Account|Log on to your account through Brelvane's POP3 port.#Each step is "
          "written to the log (lines starting CHK).");
  auto *row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(CheckAccountButton);
  layout->addLayout(row);
  layout->addStretch(1);
  connect(UserIdEdit, &QLineEdit::textChanged, this, [this] { UserIdEditChange(); });
  connect(PasswordEdit, &QLineEdit::textChanged, this, [this] { UserIdEditChange(); });
  connect(CheckAccountButton, &QPushButton::clicked, this, [this] { CheckAccountButtonClick(); });
  return tab;
}

QWidget *TQuorHotMainForm::BuildReceivingTab() {
  auto *tab = new QWidget;
  tab->setObjectName("ReceivingTab");
  tab->setStatusTip("Receiving|How your mail program downloads mail through Brelvane.");
  auto *layout = new QVBoxLayout(tab);
  auto *portRow = new QHBoxLayout;
  PopPortMaskEdit = DigitsEdit(5, tab);
  PopPortMaskEdit->setObjectName("PopPortMaskEdit");
  SetHint(PopPortMaskEdit,
          "POP3 port|The port your mail program's incoming (POP3) server setting uses.#Press "
          "Enter to apply a new port.");
  auto *portLabel = new QLabel("POP3 &port:", tab);
  portLabel->setBuddy(PopPortMaskEdit);
  portRow->addWidget(portLabel);
  portRow->addWidget(PopPortMaskEdit);
  portRow->addStretch(1);
  layout->addLayout(portRow);
  PopWarningLabel = WarningLabel(tab);
  PopWarningLabel->setObjectName("PopWarningLabel");
  layout->addWidget(PopWarningLabel);
  MarkReadCheckBox = new QCheckBox("&Mark downloaded mail as read in your account.", tab);
  MarkReadCheckBox->setObjectName("MarkReadCheckBox");
  SetHint(MarkReadCheckBox,
          "Mark read|Messages your mail program downloads are marked as read "
          "in your webmail account.");
  UnreadOnlyCheckBox = new QCheckBox("&Only download unread mail.", tab);
  UnreadOnlyCheckBox->setObjectName("UnreadOnlyCheckBox");
  SetHint(UnreadOnlyCheckBox,
          "Unread only|Messages already read in your webmail account are "
          "not offered to your mail program.");
  LocalPopCheckBox = new QCheckBox("&Do not accept connections from other computers.", tab);
  LocalPopCheckBox->setObjectName("LocalPopCheckBox");
  SetHint(LocalPopCheckBox,
          "Local only|Only programs on this computer may download mail "
          "through Brelvane.#Leave this on unless you need it off.");
  BulkMailCheckBox = new QCheckBox("&Retrieve mail from Junk Mail folder.", tab);
  BulkMailCheckBox->setObjectName("BulkMailCheckBox");
  SetHint(BulkMailCheckBox,
          "Junk mail|Also download the messages of the webmail's junk-mail folder.");
  CheckBoxNoDups = new QCheckBox("Ensure no duplicate email.", tab);
  CheckBoxNoDups->setObjectName("CheckBoxNoDups");
  SetHint(CheckBoxNoDups,
          "No duplicates|Brelvane remembers which messages it handed over, so "
          "none is downloaded twice.");
  for (QCheckBox *box :
       {MarkReadCheckBox, UnreadOnlyCheckBox, LocalPopCheckBox, BulkMailCheckBox, CheckBoxNoDups}) {
    layout->addWidget(box);
    connect(box, &QCheckBox::toggled, this, [this] { UpdateControls(); });
  }
  layout->addStretch(1);
  connect(PopPortMaskEdit, &QLineEdit::editingFinished, this, [this] { UpdateControls(); });
  return tab;
}

QWidget *TQuorHotMainForm::BuildSendingTab() {
  auto *tab = new QWidget;
  tab->setObjectName("SendingTab");
  tab->setStatusTip("Sending|How your mail program sends mail through Brelvane.");
  auto *layout = new QVBoxLayout(tab);
  auto *portRow = new QHBoxLayout;
  SmtpPortMaskEdit = DigitsEdit(5, tab);
  SmtpPortMaskEdit->setObjectName("SmtpPortMaskEdit");
  SetHint(SmtpPortMaskEdit,
          "SMTP port|The port your mail program's outgoing (SMTP) server setting uses.#Press "
          "Enter to apply a new port.");
  auto *portLabel = new QLabel("SMTP &port:", tab);
  portLabel->setBuddy(SmtpPortMaskEdit);
  portRow->addWidget(portLabel);
  portRow->addWidget(SmtpPortMaskEdit);
  portRow->addStretch(1);
  layout->addLayout(portRow);
  SMTPWarningLabel = WarningLabel(tab);
  SMTPWarningLabel->setObjectName("SMTPWarningLabel");
  layout->addWidget(SMTPWarningLabel);
  LocalSmtpCheckBox = new QCheckBox("&Do not accept connections from other computers.", tab);
  LocalSmtpCheckBox->setObjectName("LocalSmtpCheckBox");
  SetHint(LocalSmtpCheckBox,
          "Local only|Only programs on this computer may send mail through "
          "Brelvane.#Leave this on unless you need it off.");
  SaveSentCheckBox = new QCheckBox("Save sent mail in \"Sent Items\" folder.", tab);
  SaveSentCheckBox->setObjectName("SaveSentCheckBox");
  SetHint(SaveSentCheckBox,
          "Save sent mail|Keep a copy of every message you send in the "
          "webmail's sent-items folder.");
  for (QCheckBox *box : {LocalSmtpCheckBox, SaveSentCheckBox}) {
    layout->addWidget(box);
    connect(box, &QCheckBox::toggled, this, [this] { UpdateControls(); });
  }
  layout->addStretch(1);
  connect(SmtpPortMaskEdit, &QLineEdit::editingFinished, this, [this] { UpdateControls(); });
  return tab;
}

QWidget *TQuorHotMainForm::BuildLogTab() {
  auto *tab = new QWidget;
  tab->setObjectName("LogTab");
  tab->setStatusTip("Log|What Brelvane is doing, and the log files it keeps.");
  auto *layout = new QVBoxLayout(tab);
  LogMemo = new QPlainTextEdit(tab);
  LogMemo->setObjectName("LogMemo");
  LogMemo->setReadOnly(true);
  LogMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  LogMemo->setMaximumBlockCount(kLogMemoMaxLines);
  LogMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  SetHint(LogMemo, "Log|Today's activity.#Double-click to open a copy you can scroll and copy.");
  LogMemo->viewport()->installEventFilter(this);
  layout->addWidget(LogMemo, 1);

  SaveLogsCheckBox = new QCheckBox("S&ave Logs", tab);
  SaveLogsCheckBox->setObjectName("SaveLogsCheckBox");
  SetHint(SaveLogsCheckBox, "Save logs|Keep one log file per day in the folder below.");
  layout->addWidget(SaveLogsCheckBox);
  connect(SaveLogsCheckBox, &QCheckBox::toggled, this, [this] { SaveLogsCheckBoxClick(); });

  LogPanel = new QWidget(tab);
  LogPanel->setObjectName("LogPanel");
  auto *panel = new QHBoxLayout(LogPanel);
  panel->setContentsMargins(0, 0, 0, 0);
  LogDirEdit = new QLineEdit(LogPanel);
  LogDirEdit->setObjectName("LogDirEdit");
  SetHint(LogDirEdit,
          "Directory|The folder of the daily log files.#Empty means the Logs "
          "folder beside the settings.");
  auto *dirLabel = new QLabel("&Directory:", LogPanel);
  dirLabel->setBuddy(LogDirEdit);
  BrowseButton = new QPushButton("...", LogPanel);
  BrowseButton->setObjectName("BrowseButton");
  BrowseButton->setFixedWidth(BrowseButton->fontMetrics().horizontalAdvance("....") + 16);
  SetHint(BrowseButton, "Browse|Choose the folder of the log files.");
  LogDaysMaskEdit = DigitsEdit(3, LogPanel);
  LogDaysMaskEdit->setObjectName("LogDaysMaskEdit");
  SetHint(LogDaysMaskEdit, "Keep logs|How many days of log files are kept besides today's.");
  auto *keepLabel = new QLabel("&Keep Logs for ", LogPanel);
  keepLabel->setBuddy(LogDaysMaskEdit);
  panel->addWidget(dirLabel);
  panel->addWidget(LogDirEdit, 1);
  panel->addWidget(BrowseButton);
  panel->addSpacing(12);
  panel->addWidget(keepLabel);
  panel->addWidget(LogDaysMaskEdit);
  panel->addWidget(new QLabel("Days", LogPanel));
  layout->addWidget(LogPanel);
  LogPanel->setVisible(false);
  connect(BrowseButton, &QPushButton::clicked, this, [this] { BrowseButtonClick(); });
  connect(LogDirEdit, &QLineEdit::editingFinished, this, [this] { LogDirEditExit(); });
  connect(LogDaysMaskEdit, &QLineEdit::editingFinished, this, [this] { LogDaysEditExit(); });
  return tab;
}

void TQuorHotMainForm::BuildTray() {
  TrayIconPopupMenu = new QMenu(this);
  TrayIconPopupMenu->setObjectName("TrayIconPopupMenu");
  AutoStart1 = TrayIconPopupMenu->addAction("Auto Start");
  AutoStart1->setCheckable(true);
  ClosetoTray1 = TrayIconPopupMenu->addAction("Close to Tray");
  ClosetoTray1->setCheckable(true);
  TrayIconPopupMenu->addSeparator();
  Exit1 = TrayIconPopupMenu->addAction("&EXIT Brelvane");
  Resore1 = TrayIconPopupMenu->addAction("&Show");
  // Qt flips a checkable action's mark before "triggered"; Auto Start's
  // mark is then redrawn from the entry itself, whatever the click did.
  connect(AutoStart1, &QAction::triggered, this, [this] { AutoStart1Click(); });
  connect(ClosetoTray1, &QAction::triggered, this, [this] { ClosetoTray1Click(); });
  connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });
  connect(Resore1, &QAction::triggered, this, [this] { CoolTrayIcon1Click(); });
  connect(TrayIconPopupMenu, &QMenu::aboutToShow, this, [this] { TrayIconPopupMenuPopup(); });

  CoolTrayIcon1 = new QSystemTrayIcon(BrelvaneIcon(), this);
  CoolTrayIcon1->setObjectName("CoolTrayIcon1");
  CoolTrayIcon1->setToolTip(kTrayHint);
  CoolTrayIcon1->setContextMenu(TrayIconPopupMenu);
  connect(CoolTrayIcon1, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
              CoolTrayIcon1Click();
          });
}

void TQuorHotMainForm::BuildShortcuts() {
  auto *developer = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_D), this);
  connect(developer, &QShortcut::activated, this, [this] { DeveloperModeKey(); });
  auto *check = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
  connect(check, &QShortcut::activated, this, [this] { DeveloperCheckKey(); });
  auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, [this] { ShowContextHelp(); });
  // Enter takes the focus off a settings field, which applies it.
  for (QLineEdit *edit : {PopPortMaskEdit, SmtpPortMaskEdit, LogDirEdit, LogDaysMaskEdit})
    connect(edit, &QLineEdit::returnPressed, edit, [edit] { edit->clearFocus(); });
}

// ---- start and stop --------------------------------------------------------

bool TQuorHotMainForm::FormCreate(int argc, char **argv, bool minimize) {
  std::unique_ptr<QSplashScreen> splash;
  if (FOptions.ShowSplash) {
    splash = std::make_unique<QSplashScreen>(BrelvaneSplashPixmap(Q(GetVersionText())));
    splash->show();
    QCoreApplication::processEvents();
  }
  const bool ok = FController->FormCreate(argc, argv);
  LoadControls();
  ShowControllerState();
  ClearHintTimer.start();
  if (splash) splash->close();

  const bool tray = TrayAvailable();
  if (tray) CoolTrayIcon1->show();
  minimize = minimize || FController->Minimized();
  if (minimize && !tray) {
    FController->AddLogLine("No system tray on this desktop: the window stays open");
  }
  if (!minimize || !tray) show();
  return ok;
}

void TQuorHotMainForm::FormDestroy() {
  if (!FController || !FController->Created()) return;
  FStopCheck = true;
  StoreControls();
  FController->FormDestroy();
}

void TQuorHotMainForm::Terminate() {
  if (FTerminated) return;
  FTerminated = true;
  FormDestroy();
  if (CoolTrayIcon1) CoolTrayIcon1->hide();
  if (FOptions.Quit)
    FOptions.Quit();
  else
    QCoreApplication::quit();
}

void TQuorHotMainForm::closeEvent(QCloseEvent *event) {
  if (FExiting || !ClosetoTray1->isChecked()) {
    event->accept();
    Terminate();
    return;
  }
  if (!TrayAvailable()) {
    // Hiding the window with no tray to bring it back would leave a gateway
    // nobody can reach or end: closing ends it instead.
    FController->AddLogLine("No system tray on this desktop: closing the window ends Brelvane");
    event->accept();
    Terminate();
    return;
  }
  event->ignore();
  hide();
}

void TQuorHotMainForm::Exit1Click() {
  FExiting = true;
  if (isVisible())
    close();
  else
    Terminate();
}

void TQuorHotMainForm::EndSession() {
  // The session manager may not wait long: settings first, then leave.
  FExiting = true;
  FormDestroy();
  Exit1Click();
}

void TQuorHotMainForm::ClosetoTray1Click() {
  FController->Controls.CloseToTray = ClosetoTray1->isChecked();
}

void TQuorHotMainForm::CoolTrayIcon1Click() {
  showNormal();
  raise();
  activateWindow();
}

bool TQuorHotMainForm::TrayAvailable() const {
  return FOptions.TrayAvailable ? *FOptions.TrayAvailable
                                : QSystemTrayIcon::isSystemTrayAvailable();
}

// ---- settings ----------------------------------------------------------------

void TQuorHotMainForm::LoadControls() {
  ++FLoading;
  const TQuorHotController::TControls &c = FController->Controls;
  ClosetoTray1->setChecked(c.CloseToTray);
  MarkReadCheckBox->setChecked(c.MarkRead);
  UnreadOnlyCheckBox->setChecked(c.UnreadOnly);
  CheckBoxNoDups->setChecked(c.NoDuplicates);
  LocalPopCheckBox->setChecked(c.LocalPop);
  PopPortMaskEdit->setText(Q(Trim(c.PopPort)));
  BulkMailCheckBox->setChecked(c.BulkMail);
  SmtpPortMaskEdit->setText(Q(Trim(c.SmtpPort)));
  LocalSmtpCheckBox->setChecked(c.LocalSmtp);
  SaveSentCheckBox->setChecked(c.SaveSent);
  SaveLogsCheckBox->setChecked(c.SaveLogs);
  LogPanel->setVisible(c.SaveLogs);
  LogDirEdit->setText(Q(FController->Log().LogDir));
  LogDaysMaskEdit->setText(Q(Trim(FController->Log().LogDays)));
  --FLoading;
}

void TQuorHotMainForm::StoreControls() {
  TQuorHotController::TControls &c = FController->Controls;
  c.CloseToTray = ClosetoTray1->isChecked();
  c.MarkRead = MarkReadCheckBox->isChecked();
  c.UnreadOnly = UnreadOnlyCheckBox->isChecked();
  c.NoDuplicates = CheckBoxNoDups->isChecked();
  c.LocalPop = LocalPopCheckBox->isChecked();
  c.PopPort = S(PopPortMaskEdit->text());
  c.BulkMail = BulkMailCheckBox->isChecked();
  c.SmtpPort = S(SmtpPortMaskEdit->text());
  c.LocalSmtp = LocalSmtpCheckBox->isChecked();
  c.SaveSent = SaveSentCheckBox->isChecked();
  c.SaveLogs = SaveLogsCheckBox->isChecked();
  FController->Log().LogDays = S(LogDaysMaskEdit->text());
}

void TQuorHotMainForm::UpdateControls() {
  if (FTerminated || FLoading > 0 || !FController->Created()) return;
  const bool popWarning = FController->PopWarning();
  const bool smtpWarning = FController->SmtpWarning();
  StoreControls();
  FController->UpdateControls();
  ShowControllerState();
  // A port that has just been refused is where the user's attention goes.
  if (FController->PopWarning() && !popWarning) {
    PageControl1->setCurrentWidget(ReceivingTab);
    PopPortMaskEdit->setFocus();
  } else if (FController->SmtpWarning() && !smtpWarning) {
    PageControl1->setCurrentWidget(SendingTab);
    SmtpPortMaskEdit->setFocus();
  }
}

void TQuorHotMainForm::ShowControllerState() {
  if (!FController || !FController->Created() || !PopWarningLabel) return;
  PopWarningLabel->setVisible(FController->PopWarning());
  SMTPWarningLabel->setVisible(FController->SmtpWarning());
  AutoStart1->setChecked(FAutoStart->Enabled());
  HelpLabel->setText(HelpText());
}

QString TQuorHotMainForm::HelpText() const {
  QFile file(":/help/HelpTab.html");
  QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  const bool ready = FController && FController->Created();
  text.replace("%POPPORT%", ready ? QString::number(FController->PopServer().Port()) : "110");
  text.replace("%SMTPPORT%", ready ? QString::number(FController->SmtpServer().Port()) : "25");
  return text;
}

void TQuorHotMainForm::HelpLinkActivated(const QString &link) {
  if (link.startsWith("tab:")) {
    const QString name = link.mid(4);
    for (int i = 0; i < PageControl1->count(); ++i)
      if (PageControl1->tabText(i).remove('&') == name) PageControl1->setCurrentIndex(i);
  } else if (link.startsWith("help:")) {
    const int saved = PageControl1->currentIndex();
    PageControl1->setCurrentWidget(HelpTab);
    ShowContextHelp();
    PageControl1->setCurrentIndex(saved);
  }
}

void TQuorHotMainForm::SaveLogsCheckBoxClick() {
  LogPanel->setVisible(SaveLogsCheckBox->isChecked());
  if (FLoading == 0) FController->Controls.SaveLogs = SaveLogsCheckBox->isChecked();
}

void TQuorHotMainForm::LogDirEditExit() {
  if (FLoading > 0 || FTerminated) return;
  FController->Log().LogDir = S(LogDirEdit->text().trimmed());
  FController->LogDirEditExit();
  LogDirEdit->setText(Q(FController->Log().LogDir));
}

void TQuorHotMainForm::LogDaysEditExit() {
  if (FLoading > 0 || FTerminated) return;
  FController->Log().LogDays = S(LogDaysMaskEdit->text());
}

void TQuorHotMainForm::BrowseButtonClick() {
  const QString folder = QFileDialog::getExistingDirectory(this, "Log folder", LogDirEdit->text());
  if (folder.isEmpty()) return;
  LogDirEdit->setText(folder);
  LogDirEditExit();
}

void TQuorHotMainForm::AutoStart1Click() {
  std::string error;
  const bool on = !FAutoStart->Enabled();
  if (!FAutoStart->SetEnabled(on, &error)) {
    const std::string text = std::string("Failed to ") + (on ? "create" : "remove") +
                             " the autostart entry " + FAutoStart->EntryPath() + ": " + error;
    FController->AddLogLine("Error - " + text);
    NotifyUser("Brelvane", text);
  }
  AutoStart1->setChecked(FAutoStart->Enabled());
}

void TQuorHotMainForm::TrayIconPopupMenuPopup() {
  AutoStart1->setChecked(FAutoStart->Enabled());
  ClosetoTray1->setChecked(FController->Controls.CloseToTray);
}

// ---- log and hints -------------------------------------------------------

void TQuorHotMainForm::AppendLogLine(const std::string &line) {
  if (!LogMemo) return;
  // The memo shows the day's lines: once a new day has begun, it starts
  // afresh with that day's first line.
  if (FController && FController->Log().LinesToday() == 1) LogMemo->clear();
  QScrollBar *bar = LogMemo->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  LogMemo->appendPlainText(Q(line));
  // Reading back in the log must not be disturbed by new lines.
  if (atEnd) bar->setValue(bar->maximum());
}

void TQuorHotMainForm::LogMemoDblClick() { ShowViewText(this, LogMemo->toPlainText()); }

bool TQuorHotMainForm::eventFilter(QObject *watched, QEvent *event) {
  if (LogMemo && watched == LogMemo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    LogMemoDblClick();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

bool TQuorHotMainForm::event(QEvent *event) {
  if (event->type() == QEvent::StatusTip) {
    const QString tip = static_cast<QStatusTipEvent *>(event)->tip();
    if (tip.isEmpty()) return true;
    if (isActiveWindow()) {
      HintPauseTimer.stop();
      ShowHint(tip);
    } else {
      FPendingHint = tip;
      HintPauseTimer.start();
    }
    return true;
  }
  return QWidget::event(event);
}

void TQuorHotMainForm::ShowHint(const QString &hint) {
  const QString text = Q(::HintPaneText(S(hint)));
  if (text == FShownHint) return;
  FShownHint = text;
  HintMemo->setPlainText(text);
  const int lines = HintLineCount(S(text));
  const int lineHeight = HintMemo->fontMetrics().lineSpacing();
  const int margins =
      2 * HintMemo->frameWidth() + 2 * static_cast<int>(HintMemo->document()->documentMargin());
  const int paneHeight = HintMemo->height() - margins;
  const int newHeight = HintWindowHeight(height(), FDesignHeight, paneHeight, lines, lineHeight);
  if (newHeight != height()) {
    const QList<int> sizes = Splitter1->sizes();
    resize(width(), newHeight);
    if (sizes.size() == 2) Splitter1->setSizes({sizes[0], lines * lineHeight + margins});
  }
}

QString TQuorHotMainForm::HintPaneText() const { return HintMemo->toPlainText(); }

void TQuorHotMainForm::ClearHintTimerTimer() {
  if (!isVisible() || !frameGeometry().contains(QCursor::pos())) ShowHint(FDefaultHint);
}

void TQuorHotMainForm::PageControl1Change() {
  if (QWidget *page = PageControl1->currentWidget()) ShowHint(page->statusTip());
  UpdateControls();
}

// ---- help ------------------------------------------------------------------

QString TQuorHotMainForm::ContextHelpTopic() const {
  QWidget *page = PageControl1->currentWidget();
  if (page == ReceivingTab) return "ReceivingTab";
  if (page == SendingTab) return "SendingTab";
  if (page == LogTab) return "LogTab";
  return "Index";
}

void TQuorHotMainForm::ShowContextHelp() {
  if (!FHelpWindow) {
    FHelpWindow = new QDialog(this);
    FHelpWindow->setObjectName("HelpWindow");
    FHelpWindow->setWindowTitle("Brelvane Help");
    auto *layout = new QVBoxLayout(FHelpWindow);
    FHelpBrowser = new QTextBrowser(FHelpWindow);
    FHelpBrowser->setObjectName("HelpBrowser");
    FHelpBrowser->setOpenExternalLinks(true);
    layout->addWidget(FHelpBrowser);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, FHelpWindow);
    connect(buttons, &QDialogButtonBox::rejected, FHelpWindow, &QDialog::reject);
    layout->addWidget(buttons);
    FHelpWindow->resize(520, 440);
  }
  FHelpBrowser->setSource(QUrl("qrc:/help/" + ContextHelpTopic() + ".html"));
  FHelpWindow->show();
  FHelpWindow->raise();
  FHelpWindow->activateWindow();
}

// ---- messages and the account test -------------------------------------------

void TQuorHotMainForm::ShowMessage(const std::string &title, const std::string &text) {
  if (FTerminated) return;
  CoolTrayIcon1Click();
  QMessageBox::information(this, Q(title), BoxText(text));
}

void TQuorHotMainForm::UserIdEditChange() {
  CheckAccountButton->setEnabled(!FChecking && !UserIdEdit->text().isEmpty() &&
                                 !PasswordEdit->text().isEmpty());
}

void TQuorHotMainForm::CheckAccountButtonClick() {
  if (FChecking || FTerminated) return;
  const std::string userId = S(UserIdEdit->text());
  const std::string password = S(PasswordEdit->text());
  if (!TAccountCheck::UserIdAcceptable(userId)) {
    FLastCheckMessage = TAccountCheck::NeedFullAddressText();
    NotifyUser("Brelvane", FLastCheckMessage);
    return;
  }
  FChecking = true;
  UserIdEditChange();
  QDialog progress(this);
  progress.setObjectName("ProgressForm");
  progress.setWindowTitle("Progress");
  auto *layout = new QVBoxLayout(&progress);
  auto *label = new QLabel(&progress);
  label->setObjectName("ProgressLabel");
  label->setMinimumWidth(320);
  layout->addWidget(label);
  progress.show();
  FAccountCheck.OnStep = [label](const std::string &text) {
    label->setText(Q(text));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  };
  std::string message;
  try {
    message = FAccountCheck.Run(userId, password, S(PopPortMaskEdit->text()));
  } catch (const std::exception &e) {
    message = std::string("Account check failed.\r\nSee Log for details");
    FController->AddLogLine(std::string("Error - ") + e.what());
  }
  FAccountCheck.OnStep = nullptr;
  progress.hide();
  FChecking = false;
  UserIdEditChange();
  FLastCheckMessage = message;
  if (!FTerminated && !message.empty()) NotifyUser("Brelvane", message);
}

void TQuorHotMainForm::DeveloperModeKey() {
  SetDeveloperMode(true);
  // What developer mode means for a server that is already running.
  FController->PopServer().SetTimeOut(INT_MAX);
  NotifyUser("Brelvane", "Full transcripts enabled.");
}

void TQuorHotMainForm::DeveloperCheckKey() {
  if (!IsDeveloperMode() || FChecking) return;
  UserIdEdit->setText(Q(FController->Pool().RememberedUserId()));
  PasswordEdit->setText(Q(FController->Pool().RememberedPassword()));
  CheckAccountButtonClick();
}
