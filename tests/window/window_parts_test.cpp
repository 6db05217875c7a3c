// The window's parts that stand on their own: the hint pane's text rules,
// the autostart entry and the single-instance claim.
#include <sys/socket.h>
#include <sys/un.h>

#include <QDir>
#include <QFile>
#include <QLocalSocket>

#include "WindowFixture.h"
#include "app/AppIcon.h"
#include "app/AutoStart.h"
#include "app/HintText.h"
#include "app/SingleInstance.h"

TEST(HintText, PaneShowsTheLongPartWithItsMarksResolved) {
  EXPECT_EQ(HintPaneText("Port|The POP3 port.#Press Enter."), "The POP3 port.\nPress Enter.");
  EXPECT_EQ(HintPaneText("Hash|Issue ##5 and ###6"), "Issue #5 and #\n6");
  EXPECT_EQ(HintPaneText("Keys|~Alt+~D starts it"), "Alt+D starts it");
  EXPECT_EQ(HintPaneText("no bar at all#two"), "no bar at all\ntwo");
  // Only the first bar separates; later ones are text.
  EXPECT_EQ(HintPaneText("a|b|c"), "b|c");
  EXPECT_EQ(HintShortText("Port|The POP3 port."), "Port");
  EXPECT_EQ(HintLineCount("one"), 1);
  EXPECT_EQ(HintLineCount(HintPaneText("x|one#two##three#")), 3);
}

TEST(HintText, WindowGrowsForMoreLinesAndNeverShrinksBelowItsDesign) {
  // 3 lines of 14 in a 28 pane: 14 more.
  EXPECT_EQ(HintWindowHeight(400, 400, 28, 3, 14), 414);
  // 1 line in a 56 pane: 42 less, but not below the design height.
  EXPECT_EQ(HintWindowHeight(450, 420, 56, 1, 14), 420);
  EXPECT_EQ(HintWindowHeight(500, 420, 56, 1, 14), 458);
  // A window the user made smaller than designed is not grown by a shrink.
  EXPECT_EQ(HintWindowHeight(380, 420, 28, 1, 14), 380);
  EXPECT_EQ(HintWindowHeight(400, 400, 28, 2, 14), 400);
}

class AutoStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = fs::temp_directory_path() / ("brelvane-autostart-" + RandomText(8)) / "autostart";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(Folder.parent_path(), ignored);
  }
  std::string ExecOf(const std::string &program) {
    TAutoStart entry(program, Folder.string());
    EXPECT_TRUE(entry.SetEnabled(true));
    const std::string text = ReadFileText(entry.EntryPath());
    const size_t at = text.find("\nExec=");
    if (at == std::string::npos) return "";
    return text.substr(at + 6, text.find('\n', at + 1) - at - 6);
  }
  fs::path Folder;
};

TEST_F(AutoStartTest, EntryIsCreatedWithItsFolderAndRemoved) {
  TAutoStart entry("/usr/bin/brelvane", Folder.string());
  EXPECT_FALSE(entry.Enabled());
  EXPECT_EQ(entry.EntryPath(), (Folder / "BrelvaneRed.desktop").string());
  ASSERT_TRUE(entry.SetEnabled(true));
  EXPECT_TRUE(entry.Enabled());
  EXPECT_TRUE(entry.SetEnabled(true)) << "writing it again is fine";
  EXPECT_FALSE(fs::exists(entry.EntryPath() + ".new"));
  ASSERT_TRUE(entry.SetEnabled(false));
  EXPECT_FALSE(entry.Enabled());
  EXPECT_TRUE(entry.SetEnabled(false)) << "removing a missing entry is no failure";
}

TEST_F(AutoStartTest, ProgramPathIsQuotedSoThatTheDesktopReadsItBack) {
  EXPECT_EQ(ExecOf("/opt/my apps/brelvane"), "\"/opt/my apps/brelvane\" -Minimize");
  EXPECT_EQ(ExecOf("/opt/100%/b"), "\"/opt/100%%/b\" -Minimize");
  EXPECT_EQ(ExecOf("/opt/$x/b"), "\"/opt/\\\\$x/b\" -Minimize");
  EXPECT_EQ(ExecOf("/opt/a\"b"), "\"/opt/a\\\\\"b\" -Minimize");
}

TEST_F(AutoStartTest, FolderThatCannotBeMadeIsReported) {
  fs::create_directories(Folder.parent_path());
  std::ofstream(Folder) << "a file where the folder should be";
  TAutoStart entry("/usr/bin/brelvane", Folder.string());
  std::string error;
  EXPECT_FALSE(entry.SetEnabled(true, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(entry.Enabled());
}

TEST(SingleInstance, SecondClaimHandsOverToTheFirst) {
  const std::string folder = "/tmp/brelvane-single-" + RandomText(8);
  TSingleInstance first(folder);
  int activations = 0;
  first.OnActivate = [&activations] { ++activations; };
  ASSERT_EQ(first.Claim(), TSingleInstance::siFirst);

  // The hand-over waits for the first instance's answer, which needs the
  // first's loop: the second runs in another thread, as another process would.
  TSingleInstance::TOutcome outcome = TSingleInstance::siFailed;
  std::thread second([&] {
    TSingleInstance other(folder);
    outcome = other.Claim();
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (activations == 0 && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  second.join();
  EXPECT_EQ(outcome, TSingleInstance::siHandedOver);
  EXPECT_EQ(activations, 1);

  // Another program folder is another gateway.
  TSingleInstance elsewhere(folder + "-other");
  EXPECT_EQ(elsewhere.Claim(), TSingleInstance::siFirst);
}

TEST(SingleInstance, SocketLeftByACrashDoesNotBlock) {
  const std::string folder = "/tmp/brelvane-single-" + RandomText(8);
  const QString name = TSingleInstance::NameFor(folder);
  // What a killed instance leaves: a socket file nobody listens on.
  const std::string path = (QDir::tempPath() + "/" + name).toStdString();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ::close(fd);
  ASSERT_TRUE(fs::exists(path));

  TSingleInstance next(folder);
  EXPECT_EQ(next.Claim(), TSingleInstance::siFirst);
  EXPECT_EQ(next.FullServerName().toStdString(), path) << "the very file the crash left";
  QLocalSocket probe;
  probe.connectToServer(name);
  EXPECT_TRUE(probe.waitForConnected(2000)) << "the new instance listens in its place";
}

TEST(AppIcon, DrawnIconIsBuiltInAndServesTraySizes) {
  // The drawn renderings travel inside the program, so a tray needs no file.
  EXPECT_TRUE(QFile::exists(":/icons/brelvane-48.png"));
  const QIcon icon = BrelvaneIcon();
  for (int size : {16, 22, 48, 96}) {
    const QPixmap pixmap = icon.pixmap(size, size);
    ASSERT_FALSE(pixmap.isNull()) << size;
    EXPECT_LE(pixmap.width(), size);
    EXPECT_GE(pixmap.width(), size / 2);
  }
}
