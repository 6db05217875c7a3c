#pragma once
// A main window over a fresh program folder with its own free loopback
// ports, a private autostart folder, no splash and a recorded quit; message
// boxes are recorded instead of shown.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/QuorHotMainForm.h"
#include "foundation/QuorUtil.h"
#include "sessions/Notifier.h"
#include "shared/TestFiles.h"

namespace fs = std::filesystem;

inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr *>(&where), sizeof where);
  socklen_t length = sizeof where;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &length);
  ::close(fd);
  return ntohs(where.sin_port);
}

// Keeps a loopback port taken until destroyed.
class TPortBlocker {
 public:
  TPortBlocker() {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(FFd, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0 &&
        ::listen(FFd, 1) == 0) {
      socklen_t length = sizeof where;
      ::getsockname(FFd, reinterpret_cast<sockaddr *>(&where), &length);
      Port = ntohs(where.sin_port);
    }
  }
  ~TPortBlocker() { ::close(FFd); }
  int Port = 0;

 private:
  int FFd = -1;
};

class TRecordingNotifier : public TNotifier {
 public:
  std::vector<std::string> Texts;
  void ShowMessage(const std::string &, const std::string &text) override { Texts.push_back(text); }
  bool Saw(const std::string &part) const {
    for (const std::string &text : Texts)
      if (text.find(part) != std::string::npos) return true;
    return false;
  }
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Home = fs::temp_directory_path() / ("brelvane-window-" + RandomText(10));
    fs::create_directories(Home);
    Pop = FreePort();
    Smtp = FreePort();
  }
  void TearDown() override {
    Form.reset();
    SetNotifier(nullptr);
    std::error_code ignored;
    fs::remove_all(Home, ignored);
  }
  // Receiving and Sending: more key lines for those sections (each line
  // ending in CR LF); Rest: further sections.
  void WriteSettings(const std::string &receiving = "", const std::string &sending = "",
                     const std::string &rest = "") {
    std::ofstream(Home / "Settings.ini", std::ios::binary)
        << "[Receiving]\r\nPopPort=" << Pop << "\r\n"
        << receiving << "[Sending]\r\nSmtpPort=" << Smtp << "\r\n"
        << sending << rest;
  }
  // Builds and starts the window; the settings file is written first unless
  // the test did.
  void Create(bool trayAvailable = true, bool minimize = false) {
    if (!fs::exists(Home / "Settings.ini") && !FirstRun) WriteSettings();
    TControllerOptions controller;
    controller.ProgramFolder = Home.string();
    controller.ListenAddress = "127.0.0.1";
    if (Adjust) Adjust(controller);
    TMainFormOptions options;
    options.TrayAvailable = trayAvailable;
    options.AutoStartFolder = (Home / "autostart").string();
    options.Program = "/opt/brelvane/bin/brelvane";
    options.ShowSplash = false;
    options.Quit = [this] { ++QuitCalls; };
    Form = std::make_unique<TQuorHotMainForm>(std::move(controller), options);
    SetNotifier(&Notifier);
    Form->FormCreate(0, nullptr, minimize);
  }
  // The log as the window shows it: the buffer itself is emptied into the
  // daily file at shut-down.
  std::string Log() const { return Form->LogMemo->toPlainText().toStdString() + "\n"; }
  static void Pump(int ms = 50) { QCoreApplication::processEvents(QEventLoop::AllEvents, ms); }

  fs::path Home;
  int Pop = 0;
  int Smtp = 0;
  int QuitCalls = 0;
  bool FirstRun = false;  // start without a settings file
  std::function<void(TControllerOptions &)> Adjust;
  TRecordingNotifier Notifier;
  std::unique_ptr<TQuorHotMainForm> Form;
};
