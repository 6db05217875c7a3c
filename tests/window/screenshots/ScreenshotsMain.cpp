// Renders the main window's tabs and an account test's outcome to PNG files
// for the README: brelvane_screenshots OUTPUT_FOLDER. Runs on the offscreen
// platform against the stand-in webmail service, in a throw-away program
// folder.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/AppIcon.h"
#include "app/QuorHotMainForm.h"
#include "common/StandinProcess.h"
#include "foundation/QuorUtil.h"
#include "http/HttpRequest.h"
#include "sessions/Notifier.h"

namespace fs = std::filesystem;

namespace {

// Preferred when it is free, else any free port.
int FreePort(int preferred) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  where.sin_port = htons(uint16_t(preferred));
  if (::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) {
    where.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where);
  }
  socklen_t length = sizeof where;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &length);
  ::close(fd);
  return ntohs(where.sin_port);
}

// Shows each message in a box of its own and keeps a picture of the last.
class TPictureNotifier : public TNotifier {
 public:
  QPixmap Last;
  void ShowMessage(const std::string &title, const std::string &text) override {
    QMessageBox box(QMessageBox::Information, QString::fromStdString(title),
                    QString::fromStdString(text).replace("\r\n", "\n"), QMessageBox::Ok);
    box.show();
    QCoreApplication::processEvents();
    Last = box.grab();
  }
};

bool Save(const QPixmap &picture, const fs::path &path) {
  const bool ok = !picture.isNull() && picture.save(QString::fromStdString(path.string()));
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.string().c_str());
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  InstallQtYieldHook();
  if (argc < 2) {
    std::fprintf(stderr, "usage: brelvane_screenshots OUTPUT_FOLDER\n");
    return 2;
  }
  const fs::path out = argv[1];
  fs::create_directories(out);

  TStandinProcess standin;
  if (!standin.Started()) {
    std::fprintf(stderr, "the stand-in service did not start\n");
    return 1;
  }
  SetServiceBaseOverride(standin.Base());
  const fs::path home = fs::temp_directory_path() / ("brelvane-shots-" + RandomText(8));
  fs::create_directories(home);
  // Pictures show the ports an unprivileged first run settles on, when free.
  std::ofstream(home / "Settings.ini", std::ios::binary)
      << "[Receiving]\r\nPopPort=" << FreePort(1110)
      << "\r\n[Sending]\r\nSmtpPort=" << FreePort(1025)
      << "\r\n[Application]\r\nCloseToTray=1\r\n[Log]\r\nSaveLogs=1\r\nLogDays=3\r\n";

  bool ok =
      Save(BrelvaneSplashPixmap(QString::fromStdString(GetVersionText())), out / "splash.png");
  {
    TControllerOptions controller;
    controller.ProgramFolder = home.string();
    controller.ListenAddress = "127.0.0.1";
    TMainFormOptions options;
    options.TrayAvailable = false;
    options.ShowSplash = false;
    options.AutoStartFolder = (home / "autostart").string();
    options.Quit = [] {};
    TQuorHotMainForm form(controller, options);
    TPictureNotifier notifier;
    SetNotifier(&notifier);
    form.FormCreate();
    form.resize(600, 440);

    const char *names[] = {"help", "test-account", "receiving", "sending", "log"};
    form.UserIdEdit->setText("demo@hotmail.com");
    form.PasswordEdit->setText("demo-pass");
    for (int i = 0; i < form.PageControl1->count(); ++i) {
      form.PageControl1->setCurrentIndex(i);
      QCoreApplication::processEvents();
      ok &= Save(form.grab(), out / (std::string(names[i]) + ".png"));
    }

    form.PageControl1->setCurrentWidget(form.TestAccountTab);
    form.CheckAccountButton->click();
    // The box over the window, framed, as the user sees it.
    QPixmap result = form.grab();
    if (!notifier.Last.isNull()) {
      QPainter painter(&result);
      painter.fillRect(result.rect(), QColor(0, 0, 0, 60));
      const QRect box(QPoint((result.width() - notifier.Last.width()) / 2,
                             (result.height() - notifier.Last.height()) / 2),
                      notifier.Last.size());
      painter.drawPixmap(box.topLeft(), notifier.Last);
      painter.setPen(QColor(0x55, 0x55, 0x55));
      painter.drawRect(box.adjusted(-1, -1, 0, 0));
    } else {
      result = QPixmap();
    }
    ok &= Save(result, out / "account-test-result.png");
    form.PageControl1->setCurrentWidget(form.LogTab);
    QCoreApplication::processEvents();
    ok &= Save(form.grab(), out / "log-after-test.png");
    SetNotifier(nullptr);
    form.FormDestroy();
  }
  std::error_code ignored;
  fs::remove_all(home, ignored);
  return ok ? 0 : 1;
}
