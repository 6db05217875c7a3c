// Program entry: parses the command line, then runs the gateway with its
// window and tray icon, or headless (--headless, or when there is no display).
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/GuardedApplication.h"
#include "app/HeadlessRunner.h"
#include "app/QuorHotMainForm.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "foundation/QuorUtil.h"
#include "http/Connectivity.h"
#include "http/HttpRequest.h"
#include "log/Log.h"
#include "sessions/WebmailScrapeSession.h"
#ifdef BRELVANE_HAVE_SCRAPER
#include "scraping/HotmailScraperFactory.h"
#endif

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

// The browser engine must stay off the GPU and off the network beyond what
// the pages ask for; headless, it stays off screen too. The caller's own
// settings win.
void PrepareEnvironment(bool headless) {
  if (headless) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking", 0);
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
}

bool HasArgument(int argc, char **argv, const char *name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

// A window needs somewhere to show: a display, or a platform the caller chose.
bool DisplayAvailable() {
  for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char *value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

// The window and tray. A second start on the same program folder hands over
// to the first and ends.
int RunWindow(TGuardedApplication<QApplication> &app, TControllerOptions options, int argc,
              char **argv, bool minimize) {
  app.setQuitOnLastWindowClosed(false);
  TSingleInstance instance(GetProgramFolder());
  switch (instance.Claim()) {
    case TSingleInstance::siHandedOver:
      std::fprintf(stderr, "Brelvane: already running; its window was brought forward.\n");
      return 0;
    case TSingleInstance::siFailed:
      std::fprintf(stderr, "Brelvane: cannot tell whether another instance runs; going on.\n");
      break;
    case TSingleInstance::siFirst:
      break;
  }
  int status = 0;
  {
    TQuorHotMainForm form(std::move(options));
    instance.OnActivate = [&form] { form.CoolTrayIcon1Click(); };
    TTerminationSignals stopSignals([&form] { form.EndSession(); });
    app.SetHandler([&form](const std::string &message, bool socketError) {
      return form.Controller().HandleUncaughtException(message, socketError);
    });
    if (!form.FormCreate(argc, argv, minimize)) status = 1;
    const int loop = app.exec();
    if (status == 0) status = loop;
    form.FormDestroy();
    app.SetHandler(nullptr);
  }
  return status;
}

// Without window or tray: the log goes to standard output.
template <class TApp>
int RunHeadless(TGuardedApplication<TApp> &app, const TControllerOptions &options, int argc,
                char **argv) {
  int status = 0;
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
  return status;
}

// A port option's value into Target (left as it is when the option is not
// given); false, with the reason on standard error, when it is no port.
bool ReadPortOption(const QCommandLineParser &parser, const QCommandLineOption &option,
                    std::string &target) {
  if (!parser.isSet(option)) return true;
  bool isNumber = false;
  const int port = parser.value(option).toInt(&isNumber);
  if (!isNumber || port < 1 || port > 65535) {
    std::fprintf(stderr, "Brelvane: --%s wants a port number from 1 to 65535\n",
                 option.names().first().toUtf8().constData());
    return false;
  }
  target = std::to_string(port);
  return true;
}

// The program's own options, declared, added and read in one place.
struct TProgramOptions {
  QCommandLineOption Home{"home", "Use DIR as the program folder (or BRELVANE_HOME).", "DIR"};
  QCommandLineOption Headless{"headless", "Run without window or tray; log to standard output."};
  QCommandLineOption Service{
      "service-base", "Point every webmail endpoint at URL (or BRELVANE_SERVICE_BASE).", "URL"};
  QCommandLineOption Probe{"probe-host", "Host and port of the connectivity probe.", "HOST:PORT"};
  QCommandLineOption Listen{
      "listen", "Listen on ADDRESS only (default: every interface; LocalOnly decides).", "ADDRESS"};
  QCommandLineOption Pop{
      "pop-port", "Listen for POP3 on PORT, saved in the settings as if typed in the window.",
      "PORT"};
  QCommandLineOption Smtp{
      "smtp-port", "Listen for SMTP on PORT, saved in the settings as if typed in the window.",
      "PORT"};

  void AddTo(QCommandLineParser &parser) {
    parser.setApplicationDescription(
        "Brelvane: a local POP3 and SMTP gateway to a webmail account.");
    parser.addHelpOption();
    parser.addVersionOption();
    for (const QCommandLineOption *option :
         {&Home, &Headless, &Service, &Probe, &Listen, &Pop, &Smtp})
      parser.addOption(*option);
  }

  // Applies the process-wide settings and fills Options; false, with the
  // reason on standard error, for a value the program cannot use.
  bool Apply(const QCommandLineParser &parser, TControllerOptions &options) const {
    if (parser.isSet(Home)) SetProgramFolder(parser.value(Home).toStdString());
    if (parser.isSet(Service)) SetServiceBaseOverride(parser.value(Service).toStdString());
    if (parser.isSet(Probe) && !SetConnectivityProbeHostText(parser.value(Probe).toStdString())) {
      std::fprintf(stderr, "Brelvane: --probe-host wants HOST:PORT\n");
      return false;
    }
    if (parser.isSet(Listen)) options.ListenAddress = parser.value(Listen).toStdString();
    return ReadPortOption(parser, Pop, options.PopPort) &&
           ReadPortOption(parser, Smtp, options.SmtpPort);
  }
};

}  // namespace

int main(int argc, char **argv) {
  CheckDeveloperCommandLine(argc, argv);
  const bool minimize = TakeMinimizeSwitch(argc, argv);
  bool headless = HasArgument(argc, argv, "--headless");
  const bool informational = HasArgument(argc, argv, "--help") || HasArgument(argc, argv, "-h") ||
                             HasArgument(argc, argv, "--version") || HasArgument(argc, argv, "-v");
  if (!headless && !informational && !DisplayAvailable()) {
    std::fprintf(stderr, "Brelvane: no display; running headless.\n");
    headless = true;
  }
  PrepareEnvironment(headless || informational);

  std::unique_ptr<TGuardedApplication<QCoreApplication>> coreApp;
  std::unique_ptr<TGuardedApplication<QApplication>> windowApp;
  if (informational) {
    coreApp = std::make_unique<TGuardedApplication<QCoreApplication>>(argc, argv);
  } else {
    // Headless too: the site's pages are driven in a browser view, which
    // needs widgets (on the offscreen platform there). The browser engine
    // shares the window system's OpenGL contexts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    windowApp = std::make_unique<TGuardedApplication<QApplication>>(argc, argv);
  }
  QCoreApplication &app = *QCoreApplication::instance();
  QCoreApplication::setApplicationName("Brelvane");
  QCoreApplication::setApplicationVersion(QString::fromStdString(GetVersionText()));

  QCommandLineParser parser;
  TProgramOptions programOptions;
  programOptions.AddTo(parser);
  parser.process(app);
  TControllerOptions options;
  if (!programOptions.Apply(parser, options)) return 2;
  InstallQtYieldHook();
#ifdef BRELVANE_HAVE_SCRAPER
  // Sessions that fall back to the site get a browser-backed scraper.
  if (windowApp) SetScraperFactory([] { return CreateHotmailScraper(); });
#endif

  int status = 0;
  if (windowApp && !headless) {
    status = RunWindow(*windowApp, std::move(options), argc, argv, minimize);
  } else if (windowApp) {
    status = RunHeadless(*windowApp, options, argc, argv);
  } else {
    status = RunHeadless(*coreApp, options, argc, argv);
  }
  LogModuleEnd();
  return status;
}
