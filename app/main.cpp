// Program entry: parses the command line, then runs the gateway with its
// window or, with --headless, without one.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "foundation/QuorUtil.h"

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

bool HasArg(int argc, char **argv, const char *name) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == name) return true;
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  CheckDeveloperCommandLine(argc, argv);
  const bool minimize = TakeMinimizeSwitch(argc, argv);
  const bool headless = HasArg(argc, argv, "--headless") || HasArg(argc, argv, "--help") ||
                        HasArg(argc, argv, "--version");

  std::unique_ptr<QCoreApplication> app;
  if (headless)
    app = std::make_unique<QCoreApplication>(argc, argv);
  else
    app = std::make_unique<QApplication>(argc, argv);
  QCoreApplication::setApplicationName("Brelvane");
  QCoreApplication::setApplicationVersion(QString::fromStdString(GetVersionText()));

  QCommandLineParser parser;
  parser.setApplicationDescription("Brelvane: a local POP3 and SMTP gateway to a webmail account.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption homeOption("home", "Use DIR as the program folder.", "DIR");
  QCommandLineOption headlessOption("headless", "Run without window or tray; log to standard output.");
  QCommandLineOption serviceOption("service-base", "Point every webmail endpoint at URL.", "URL");
  QCommandLineOption probeOption("probe-host", "Host and port of the connectivity probe.", "HOST:PORT");
  parser.addOption(homeOption);
  parser.addOption(headlessOption);
  parser.addOption(serviceOption);
  parser.addOption(probeOption);
  parser.process(*app);

  if (parser.isSet(homeOption)) SetProgramFolder(parser.value(homeOption).toStdString());
  InstallQtYieldHook();
  (void)minimize;

  std::printf("Brelvane %s\n", GetVersionText().c_str());
  return 0;
}
