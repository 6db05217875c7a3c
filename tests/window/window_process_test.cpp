// The built program with its window (offscreen): a second start hands over
// to the first and ends; a stop from outside, as at log-out, saves the
// settings; --headless still runs without a window.
#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <thread>

#include "WindowFixture.h"

namespace {

class WindowProgram : public WindowTest {
 protected:
  void StartProgram(QProcess &process, const QStringList &extra = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((Home / "config").string()));
    env.remove("BRELVANE_HOME");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(BRELVANE_PROGRAM, QStringList{"--home", QString::fromStdString(Home.string()),
                                                "--listen", "127.0.0.1"} +
                                        extra);
    ASSERT_TRUE(process.waitForStarted(10000));
  }
  // Waits until the program listens on its POP3 port.
  static bool WaitListening(int port) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in where{};
      where.sin_family = AF_INET;
      where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      where.sin_port = htons(uint16_t(port));
      const bool up = ::connect(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0;
      ::close(fd);
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
};

}  // namespace

TEST_F(WindowProgram, SecondStartHandsOverAndEndsAndATermSignalSavesTheSettings) {
  WriteSettings("BulkMail=1\r\n");
  QProcess first;
  StartProgram(first);
  ASSERT_TRUE(WaitListening(Pop));

  QProcess second;
  StartProgram(second);
  ASSERT_TRUE(second.waitForFinished(20000));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(second.readAllStandardError().contains("already running"));
  EXPECT_EQ(first.state(), QProcess::Running);

  // The desktop ends the session: the program leaves at once, cleanly.
  first.terminate();
  ASSERT_TRUE(first.waitForFinished(20000));
  EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first.exitCode(), 0);
  const std::string ini = ReadFileText(Home / "Settings.ini");
  EXPECT_NE(ini.find("BulkMail=1"), std::string::npos) << ini;
  EXPECT_NE(ini.find("CloseToTray=1"), std::string::npos) << "written at the end: " << ini;

  // And after it has gone, a new start is the first again.
  QProcess third;
  StartProgram(third);
  EXPECT_TRUE(WaitListening(Pop));
  third.terminate();
  EXPECT_TRUE(third.waitForFinished(20000));
}

TEST_F(WindowProgram, HeadlessStaysWithoutWindowAndWritesItsLogToStandardOutput) {
  WriteSettings();
  QProcess headless;
  StartProgram(headless, {"--headless"});
  ASSERT_TRUE(WaitListening(Pop));
  headless.terminate();
  ASSERT_TRUE(headless.waitForFinished(20000));
  EXPECT_TRUE(headless.readAllStandardOutput().contains("Application Started"));
}
