// Program entry: parses the command line, then runs the gateway. The window
// is not built yet, so every start runs the headless mode.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/GuardedApplication.h"
#include "app/HeadlessRunner.h"
#include "foundation/QuorUtil.h"
#include "http/Connectivity.h"
#include "http/HttpRequest.h"
#include "log/Log.h"

namespace {

// "-Minimize" is the traditional single-dash switch; Qt's parser would read
// it as a cluster of one-letter options, so it is taken out first.
bool TakeMinimizeSwitch(int &argc, char **argv) {
  bool found = false;
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    if (SameText(argv[i], "-Minimize")) {
      found = true;
      continue;
    }
    argv[out++] = argv[i];
  }
  argc = out;
  return found;
}

// The browser engine must stay off screen, off the GPU and off the network
// beyond what the pages ask for; the caller's own settings win.
void PrepareHeadlessEnvironment() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking", 0);
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
}

}  // namespace

int main(int argc, char **argv) {
  CheckDeveloperCommandLine(argc, argv);
  const bool minimize = TakeMinimizeSwitch(argc, argv);
  PrepareHeadlessEnvironment();

  TGuardedApplication<QCoreApplication> app(argc, argv);
  QCoreApplication::setApplicationName("Brelvane");
  QCoreApplication::setApplicationVersion(QString::fromStdString(GetVersionText()));

  QCommandLineParser parser;
  parser.setApplicationDescription("Brelvane: a local POP3 and SMTP gateway to a webmail account.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption homeOption("home", "Use DIR as the program folder (or BRELVANE_HOME).", "DIR");
  QCommandLineOption headlessOption("headless",
                                    "Run without window or tray; log to standard output.");
  QCommandLineOption serviceOption(
      "service-base", "Point every webmail endpoint at URL (or BRELVANE_SERVICE_BASE).", "URL");
  QCommandLineOption probeOption("probe-host", "Host and port of the connectivity probe.",
                                 "HOST:PORT");
  QCommandLineOption listenOption(
      "listen", "Listen on ADDRESS only (default: every interface; LocalOnly decides).", "ADDRESS");
  parser.addOption(homeOption);
  parser.addOption(headlessOption);
  parser.addOption(serviceOption);
  parser.addOption(probeOption);
  parser.addOption(listenOption);
  parser.process(app);

  if (parser.isSet(homeOption)) SetProgramFolder(parser.value(homeOption).toStdString());
  if (parser.isSet(serviceOption))
    SetServiceBaseOverride(parser.value(serviceOption).toStdString());
  if (parser.isSet(probeOption) &&
      !SetConnectivityProbeHostText(parser.value(probeOption).toStdString())) {
    std::fprintf(stderr, "Brelvane: --probe-host wants HOST:PORT\n");
    return 2;
  }
  InstallQtYieldHook();

  if (!parser.isSet(headlessOption))
    std::fprintf(stderr, "Brelvane: the window is not built yet; running headless.\n");
  (void)minimize;  // nothing is shown either way

  TControllerOptions options;
  if (parser.isSet(listenOption)) options.ListenAddress = parser.value(listenOption).toStdString();
  int status = 0;
  {
    THeadlessRunner runner(options);
    app.SetHandler([&runner](const std::string &message, bool socketError) {
      return runner.Controller().HandleUncaughtException(message, socketError);
    });
    if (!runner.Start(argc, argv)) status = 1;
    if (status == 0) status = app.exec();
    runner.Stop();
    // A stop that came while a connection waited on the service leaves that
    // connection to finish once its handler returns.
    runner.Drain(5000);
    app.SetHandler(nullptr);
  }
  LogModuleEnd();
  return status;
}
