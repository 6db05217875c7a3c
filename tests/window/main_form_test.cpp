// The main window bound to a real controller: settings in and out of
// Settings.ini, ports reopened from the port fields, closing to the tray,
// auto start, the log tab, hints and help, offscreen.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest/QTest>
#include <optional>

#include "WindowFixture.h"
#include "app/HintText.h"

namespace {

bool Listening(int port) {
  QTcpSocket socket;
  socket.connectToHost("127.0.0.1", quint16(port));
  return socket.waitForConnected(2000);
}

}  // namespace

TEST_F(WindowTest, ControlsShowTheSettingsFileAndTheExitWritesChangesBack) {
  WriteSettings("MarkRead=0\r\nBulkMail=1\r\nLocalOnly=0\r\n", "SaveInSent=0\r\n",
                "[Application]\r\nCloseToTray=0\r\n[Log]\r\nSaveLogs=1\r\nLogDays=5\r\n");
  Create();
  EXPECT_FALSE(Form->ClosetoTray1->isChecked());
  EXPECT_FALSE(Form->MarkReadCheckBox->isChecked());
  EXPECT_TRUE(Form->UnreadOnlyCheckBox->isChecked());  // missing key: the designed default
  EXPECT_TRUE(Form->BulkMailCheckBox->isChecked());
  EXPECT_FALSE(Form->LocalPopCheckBox->isChecked());
  EXPECT_FALSE(Form->SaveSentCheckBox->isChecked());
  EXPECT_EQ(Form->PopPortMaskEdit->text().toInt(), Pop);
  EXPECT_EQ(Form->SmtpPortMaskEdit->text().toInt(), Smtp);
  EXPECT_TRUE(Form->SaveLogsCheckBox->isChecked());
  EXPECT_FALSE(Form->LogPanel->isHidden());
  EXPECT_EQ(Form->LogDaysMaskEdit->text(), "5");
  // The controls reached the servers.
  EXPECT_FALSE(Form->Controller().PopServer().MarkRead);
  EXPECT_TRUE(Form->Controller().PopServer().GetBulkmail);
  EXPECT_FALSE(Form->Controller().SmtpServer().SaveInSent);

  Form->MarkReadCheckBox->setChecked(true);
  Form->BulkMailCheckBox->setChecked(false);
  Form->CheckBoxNoDups->setChecked(false);
  Form->LocalSmtpCheckBox->setChecked(false);
  Form->LogDaysMaskEdit->setText("9");
  emit Form->LogDaysMaskEdit->editingFinished();
  EXPECT_TRUE(Form->Controller().PopServer().MarkRead);
  EXPECT_FALSE(Form->Controller().PopServer().NoDups);

  Form->Exit1->trigger();
  EXPECT_EQ(QuitCalls, 1);
  const std::string ini = ReadFileText(Home / "Settings.ini");
  EXPECT_NE(ini.find("MarkRead=1"), std::string::npos) << ini;
  EXPECT_NE(ini.find("BulkMail=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("NoDuplicates=0"), std::string::npos) << ini;
  EXPECT_NE(ini.find("LogDays=9"), std::string::npos) << ini;
  EXPECT_NE(ini.find("CloseToTray=0"), std::string::npos) << ini;
  const size_t sending = ini.find("[Sending]");
  ASSERT_NE(sending, std::string::npos);
  EXPECT_NE(ini.find("LocalOnly=0", sending), std::string::npos) << ini;
}

TEST_F(WindowTest, PortFieldReopensThePortAndATakenPortShowsTheWarningUntilFixed) {
  Create();
  ASSERT_TRUE(Listening(Pop));
  EXPECT_TRUE(Form->PopWarningLabel->isHidden());

  const int moved = FreePort();
  Form->PopPortMaskEdit->setText(QString::number(moved));
  emit Form->PopPortMaskEdit->editingFinished();
  EXPECT_EQ(Form->Controller().PopServer().Port(), moved);
  EXPECT_TRUE(Listening(moved));
  EXPECT_FALSE(Listening(Pop));
  EXPECT_NE(Form->HelpLabel->text().indexOf(QString::number(moved)), -1)
      << "the help text shows the live port";

  TPortBlocker taken;
  ASSERT_GT(taken.Port, 0);
  Form->SmtpPortMaskEdit->setText(QString::number(taken.Port));
  emit Form->SmtpPortMaskEdit->editingFinished();
  EXPECT_FALSE(Form->SMTPWarningLabel->isHidden());
  EXPECT_TRUE(Form->PopWarningLabel->isHidden());
  EXPECT_TRUE(
      Notifier.Saw("Failed to open SMTP port for listening on port " + std::to_string(taken.Port)));
  EXPECT_EQ(Form->PageControl1->currentWidget(), Form->SendingTab);
  EXPECT_TRUE(Form->Controller().RetryTimerActive());

  // Another port that opens takes the warning down.
  const int again = FreePort();
  Form->SmtpPortMaskEdit->setText(QString::number(again));
  emit Form->SmtpPortMaskEdit->editingFinished();
  EXPECT_TRUE(Form->SMTPWarningLabel->isHidden());
  EXPECT_TRUE(Listening(again));
}

TEST_F(WindowTest, RetryTimerOpeningARefusedPortHidesTheWarning) {
  std::optional<TPortBlocker> taken;
  taken.emplace();
  Pop = taken->Port;
  Create();
  EXPECT_FALSE(Form->PopWarningLabel->isHidden());
  taken.reset();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Form->PopWarningLabel->isHidden() && std::chrono::steady_clock::now() < until) Pump(100);
  EXPECT_TRUE(Form->PopWarningLabel->isHidden());
  EXPECT_TRUE(Listening(Pop));
}

TEST_F(WindowTest, CloseWithCloseToTrayHidesAndExitQuitsAndSaves) {
  Create(true);
  ASSERT_TRUE(Form->isVisible());
  ASSERT_TRUE(Form->ClosetoTray1->isChecked());
  Form->close();
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(QuitCalls, 0);
  EXPECT_TRUE(Listening(Pop)) << "the gateway goes on in the tray";

  Form->Resore1->trigger();
  EXPECT_TRUE(Form->isVisible());

  fs::remove(Home / "Settings.ini");
  Form->Exit1->trigger();
  EXPECT_EQ(QuitCalls, 1);
  EXPECT_TRUE(Form->Terminated());
  EXPECT_TRUE(fs::exists(Home / "Settings.ini"));
  EXPECT_NE(Log().find("Application Closed"), std::string::npos);
}

TEST_F(WindowTest, ClosingWithCloseToTrayOffQuits) {
  Create(true);
  Form->ClosetoTray1->trigger();  // toggles the check off
  EXPECT_FALSE(Form->Controller().Controls.CloseToTray);
  Form->close();
  EXPECT_EQ(QuitCalls, 1);
  EXPECT_NE(ReadFileText(Home / "Settings.ini").find("CloseToTray=0"), std::string::npos);
}

TEST_F(WindowTest, WithoutATrayClosingQuitsAndMinimizeKeepsTheWindowOpen) {
  Create(false, true);
  EXPECT_TRUE(Form->isVisible()) << "no tray to bring a hidden window back from";
  EXPECT_NE(Log().find("No system tray on this desktop: the window stays open"), std::string::npos);
  Form->close();
  EXPECT_EQ(QuitCalls, 1);
  EXPECT_NE(Log().find("closing the window ends Brelvane"), std::string::npos);
}

TEST_F(WindowTest, MinimizeWithATrayStartsHidden) {
  Create(true, true);
  EXPECT_FALSE(Form->isVisible());
  EXPECT_TRUE(Listening(Pop));
}

TEST_F(WindowTest, EndOfSessionSavesAndQuitsEvenWithCloseToTray) {
  Create(true);
  Form->UnreadOnlyCheckBox->setChecked(false);
  Form->EndSession();
  EXPECT_EQ(QuitCalls, 1);
  EXPECT_NE(ReadFileText(Home / "Settings.ini").find("UnReadOnly=0"), std::string::npos);
}

TEST_F(WindowTest, AutoStartTogglesTheEntryWithMinimize) {
  Create();
  const fs::path entry = Home / "autostart" / "BrelvaneRed.desktop";
  EXPECT_FALSE(Form->AutoStart1->isChecked());
  Form->AutoStart1->trigger();
  ASSERT_TRUE(fs::exists(entry));
  EXPECT_TRUE(Form->AutoStart1->isChecked());
  const std::string text = ReadFileText(entry);
  EXPECT_NE(text.find("\nExec=\"/opt/brelvane/bin/brelvane\" -Minimize\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("[Desktop Entry]"), std::string::npos);

  Form->AutoStart1->trigger();
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_FALSE(Form->AutoStart1->isChecked());

  // The mark follows the entry, whoever made it, each time the menu opens.
  Form->AutoStart().SetEnabled(true);
  Form->TrayIconPopupMenuPopup();
  EXPECT_TRUE(Form->AutoStart1->isChecked());
}

TEST_F(WindowTest, LogTabShowsLiveLinesAndDoubleClickOpensAReadOnlyCopy) {
  Create();
  Form->Controller().AddLogLine("a line\r\nwith a break");
  const QString shown = Form->LogMemo->toPlainText();
  EXPECT_TRUE(shown.contains("Application Started"));
  EXPECT_TRUE(shown.contains("a line<CRLF>with a break"));

  QString copied;
  bool readOnly = false;
  QTimer::singleShot(0, [&] {
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal) return;
    if (auto *memo = modal->findChild<QPlainTextEdit *>("ViewTextMemo")) {
      copied = memo->toPlainText();
      readOnly = memo->isReadOnly();
    }
    EXPECT_EQ(modal->windowTitle(), "View Text");
    static_cast<QDialog *>(modal)->reject();
  });
  QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(10, 10), QPointF(10, 10),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Form->LogMemo->viewport(), &doubleClick);
  EXPECT_EQ(copied, Form->LogMemo->toPlainText());
  EXPECT_TRUE(readOnly);
}

TEST_F(WindowTest, FirstRunShowsTheProbedPortsInTheFields) {
  FirstRun = true;
  TPortBlocker taken;
  Adjust = [&](TControllerOptions &options) {
    options.PopProbeStart = taken.Port;  // taken: the probe goes on 100 further
    options.SmtpProbeStart = Smtp;
  };
  Create();
  const int probed = Form->Controller().PopServer().Port();
  EXPECT_EQ(probed, taken.Port + 100);
  EXPECT_EQ(Form->PopPortMaskEdit->text().toInt(), probed);
  EXPECT_EQ(Form->SmtpPortMaskEdit->text().toInt(), Smtp);
  EXPECT_TRUE(Form->PopWarningLabel->isHidden());
}

TEST_F(WindowTest, LogTabStartsAfreshWhenANewDaysFlushEmptiedTheBuffer) {
  // The clock outlives the test body: the window is shut down afterwards.
  auto now =
      std::make_shared<std::chrono::system_clock::time_point>(std::chrono::system_clock::now());
  Adjust = [now](TControllerOptions &options) { options.Clock = [now] { return *now; }; };
  Create();
  Form->Controller().AddLogLine("yesterday's line");
  *now += std::chrono::hours(25);
  Form->Controller().DeleteLogsTimerTimer();
  Form->Controller().AddLogLine("today's line");
  EXPECT_EQ(Form->LogMemo->toPlainText(), "today's line");
  EXPECT_EQ(Form->Controller().Log().Buffer().size(), 1u);
}

TEST_F(WindowTest, SaveLogsShowsAndHidesTheFolderPanel) {
  Create();
  EXPECT_TRUE(Form->LogPanel->isHidden());
  Form->SaveLogsCheckBox->setChecked(true);
  EXPECT_FALSE(Form->LogPanel->isHidden());
  EXPECT_TRUE(Form->Controller().Controls.SaveLogs);
  Form->SaveLogsCheckBox->setChecked(false);
  EXPECT_TRUE(Form->LogPanel->isHidden());
}

TEST_F(WindowTest, LogFolderFieldIsNormalisedAndCreated) {
  Create();
  const fs::path folder = Home / "my" / "logs";
  Form->LogDirEdit->setText(QString::fromStdString(folder.string() + "/"));
  emit Form->LogDirEdit->editingFinished();
  EXPECT_EQ(Form->LogDirEdit->text().toStdString(), folder.string());
  EXPECT_TRUE(fs::is_directory(folder));
  Form->LogDirEdit->setText("");
  emit Form->LogDirEdit->editingFinished();
  EXPECT_EQ(Form->LogDirEdit->text().toStdString(), (Home / "Logs").string());
}

TEST_F(WindowTest, FolderPickerChoiceBecomesTheLogFolder) {
  Create();
  const fs::path chosen = Home / "picked";
  fs::create_directories(chosen);
  bool sawPicker = false;
  QTimer::singleShot(0, [&] {
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    if (!dialog) return;
    sawPicker = true;
    dialog->setDirectory(QString::fromStdString(chosen.string()));
    dialog->selectFile(QString::fromStdString(chosen.string()));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  Form->BrowseButton->click();
  EXPECT_TRUE(sawPicker);
  EXPECT_EQ(Form->LogDirEdit->text().toStdString(), chosen.string());
  EXPECT_EQ(Form->Controller().Log().LogDir, chosen.string());
}

TEST_F(WindowTest, TestButtonNeedsBothFields) {
  Create();
  EXPECT_FALSE(Form->CheckAccountButton->isEnabled());
  Form->UserIdEdit->setText("someone@hotmail.com");
  EXPECT_FALSE(Form->CheckAccountButton->isEnabled());
  Form->PasswordEdit->setText("secret");
  EXPECT_TRUE(Form->CheckAccountButton->isEnabled());
  Form->UserIdEdit->clear();
  EXPECT_FALSE(Form->CheckAccountButton->isEnabled());
}

TEST_F(WindowTest, HintPaneShowsTheLongTextOfTheControlUnderTheMouse) {
  Create();
  QStatusTipEvent tip(Form->BulkMailCheckBox->statusTip());
  QCoreApplication::sendEvent(Form->BulkMailCheckBox, &tip);
  // The offscreen window is not the active one: the hint comes after a pause.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!Form->HintPaneText().startsWith("Also download") &&
         std::chrono::steady_clock::now() < until)
    Pump(50);
  EXPECT_EQ(Form->HintPaneText().toStdString(),
            HintPaneText(Form->BulkMailCheckBox->statusTip().toStdString()));
  EXPECT_FALSE(Form->HintPaneText().contains('|'));

  Form->PageControl1->setCurrentWidget(Form->LogTab);
  EXPECT_TRUE(Form->HintPaneText().startsWith("What Brelvane is doing"));

  // A hint of more lines makes room for them; the window never ends up
  // lower than it was designed.
  const int before = Form->height();
  Form->ShowHint("x|one#two#three#four#five#six");
  EXPECT_GT(Form->height(), before);
  Form->ShowHint("x|one");
  EXPECT_GE(Form->height(), Form->DesignHeight());
}

TEST_F(WindowTest, F1ShowsTheActiveTabsHelpPage) {
  Create();
  Form->PageControl1->setCurrentWidget(Form->ReceivingTab);
  EXPECT_EQ(Form->ContextHelpTopic(), "ReceivingTab");
  Form->ShowContextHelp();
  ASSERT_NE(Form->HelpWindow(), nullptr);
  auto *browser = Form->HelpWindow()->findChild<QTextBrowser *>("HelpBrowser");
  ASSERT_NE(browser, nullptr);
  EXPECT_TRUE(browser->toPlainText().contains("Mark downloaded mail as read"));

  Form->PageControl1->setCurrentWidget(Form->SendingTab);
  EXPECT_EQ(Form->ContextHelpTopic(), "SendingTab");
  Form->ShowContextHelp();
  EXPECT_TRUE(browser->toPlainText().contains("Sent Items"));
  Form->PageControl1->setCurrentWidget(Form->LogTab);
  Form->ShowContextHelp();
  EXPECT_TRUE(browser->toPlainText().contains("Keep Logs for"));
  Form->PageControl1->setCurrentWidget(Form->TestAccountTab);
  Form->ShowContextHelp();
  EXPECT_TRUE(browser->toPlainText().contains("How Brelvane works"));
}

TEST_F(WindowTest, HelpTabGivesTheSetUpWithBothLivePorts) {
  Create();
  const QString text = Form->HelpLabel->text();
  EXPECT_TRUE(text.contains(QString::number(Pop)));
  EXPECT_TRUE(text.contains(QString::number(Smtp)));
  EXPECT_FALSE(text.contains("%POPPORT%"));
  // Its links lead to the other tabs.
  emit Form->HelpLabel->linkActivated("tab:Log");
  EXPECT_EQ(Form->PageControl1->currentWidget(), Form->LogTab);
}

TEST_F(WindowTest, CaptionCarriesTheVersion) {
  Create();
  EXPECT_TRUE(Form->windowTitle().startsWith(
      QString::fromStdString("Brelvane " + GetVersionText() + " - ")));
}

TEST_F(WindowTest, KeyChordsReachTheirCommands) {
  Create();
  Form->activateWindow();
  QApplication::setActiveWindow(Form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get(), 5000));
  const bool was = IsDeveloperMode();
  SetDeveloperMode(false);

  Form->PageControl1->setCurrentWidget(Form->SendingTab);
  QTest::keyClick(Form.get(), Qt::Key_F1);
  ASSERT_NE(Form->HelpWindow(), nullptr);
  EXPECT_TRUE(Form->HelpWindow()->isVisible());
  Form->HelpWindow()->hide();
  QApplication::setActiveWindow(Form.get());

  QTest::keyClick(Form.get(), Qt::Key_L, Qt::ControlModifier);
  EXPECT_TRUE(Form->UserIdEdit->text().isEmpty()) << "Ctrl+L does nothing outside developer mode";
  QTest::keyClick(Form.get(), Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_TRUE(IsDeveloperMode());
  EXPECT_TRUE(Notifier.Saw("Full transcripts enabled."));
  Form->Controller().Pool().SetRememberedAccount("someone", "pw");
  QTest::keyClick(Form.get(), Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(Form->UserIdEdit->text(), "someone");
  EXPECT_TRUE(Notifier.Saw("Please enter full email address.")) << "the test ran";
  SetDeveloperMode(was);
}

TEST_F(WindowTest, EveryTabRendersSomething) {
  Create();
  Form->resize(560, 420);
  for (int i = 0; i < Form->PageControl1->count(); ++i) {
    Form->PageControl1->setCurrentIndex(i);
    Pump();
    const QImage image = Form->grab().toImage();
    ASSERT_FALSE(image.isNull());
    const QImage page = Form->PageControl1->currentWidget()->grab().toImage();
    // A blank page is one colour; a page with its controls has many.
    QSet<QRgb> colours;
    for (int y = 0; y < page.height(); y += 2)
      for (int x = 0; x < page.width(); x += 2) colours.insert(page.pixel(x, y));
    EXPECT_GT(colours.size(), 3) << "tab " << i;
  }
}
