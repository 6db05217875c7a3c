#pragma once
// The built program as a user runs it (headless, on its own program folder,
// pointed at a stand-in service), and the real mail programs that talk to
// it, each a separate process bounded in time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// A loopback port free at the moment of asking.
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

inline std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct TRun {
  int Exit = -1;
  std::string Output;
};

// Runs a mail program to its end, feeding Input; bounded by LimitMs.
inline TRun RunClient(const QString &program, const QStringList &args,
                      const std::string &input = "", int limitMs = 90000) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, args);
  TRun run;
  if (!process.waitForStarted(10000)) return run;
  if (!input.empty()) process.write(input.data(), static_cast<qint64>(input.size()));
  process.closeWriteChannel();
  if (!process.waitForFinished(limitMs)) {
    process.kill();
    process.waitForFinished(5000);
  }
  run.Output = process.readAll().toStdString();
  run.Exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return run;
}

// Messages in an mbox file: its "From " separator lines.
inline int CountMessages(const std::filesystem::path &mbox) {
  std::istringstream in(ReadFile(mbox));
  int count = 0;
  for (std::string line; std::getline(in, line);) count += line.rfind("From ", 0) == 0;
  return count;
}

class TGateway {
 public:
  TGateway(const std::filesystem::path &home, const std::string &serviceBase) {
    FProcess.setProcessChannelMode(QProcess::SeparateChannels);
    FProcess.start(BRELVANE_PROGRAM,
                   {"--headless", "--home", QString::fromStdString(home.string()), "--service-base",
                    QString::fromStdString(serviceBase), "--listen", "127.0.0.1"});
    FProcess.waitForStarted(10000);
  }
  ~TGateway() {
    if (FProcess.state() != QProcess::NotRunning) {
      FProcess.kill();
      FProcess.waitForFinished(5000);
    }
  }
  // Waits until the start line is out; false when it never came.
  bool WaitStarted() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Output.find("Application Started") == std::string::npos &&
           std::chrono::steady_clock::now() < until && FProcess.state() == QProcess::Running) {
      FProcess.waitForReadyRead(200);
      Output += FProcess.readAllStandardOutput().toStdString();
    }
    return Output.find("Application Started") != std::string::npos;
  }
  void Poll(int ms) {
    FProcess.waitForReadyRead(ms);
    Output += FProcess.readAllStandardOutput().toStdString();
  }
  // Reads the log until Text shows up in it; false when it did not in time.
  bool WaitForOutput(const std::string &text, int limitMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (Output.find(text) == std::string::npos && std::chrono::steady_clock::now() < until &&
           FProcess.state() == QProcess::Running)
      Poll(200);
    return Output.find(text) != std::string::npos;
  }
  qint64 ProcessId() const { return FProcess.processId(); }
  // SIGTERM, as a service manager stops it; the exit code.
  int Terminate() {
    FProcess.terminate();
    if (!FProcess.waitForFinished(30000)) return -1;
    Output += FProcess.readAllStandardOutput().toStdString();
    Errors += FProcess.readAllStandardError().toStdString();
    return FProcess.exitStatus() == QProcess::NormalExit ? FProcess.exitCode() : -1;
  }
  std::string Output;
  std::string Errors;  // standard error, read at the end (sanitizer reports land here)

 private:
  QProcess FProcess;
};
