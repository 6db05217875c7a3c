#pragma once
// A stand-in webmail service as a separate process, for tests that talk to
// it over loopback. The accounts are copied to a temporary folder first, so
// that a test may add files without touching the shipped demo accounts. The
// process stops by itself after MaxSeconds even if a test crashes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/QuorUtil.h"

#ifndef BRELVANE_SOURCE_DIR
#include "BuildConfig.h"
#endif

class TStandinProcess {
 public:
  // AccountsSource: a folder of account folders (default: the demo accounts).
  explicit TStandinProcess(const std::vector<std::string> &extraArgs = {},
                           std::string accountsSource = "", int maxSeconds = 300) {
    namespace fs = std::filesystem;
    if (accountsSource.empty())
      accountsSource = std::string(BRELVANE_SOURCE_DIR) + "/testing/standin/demo";
    FFolder = fs::temp_directory_path() / ("brelvane-standin-" + RandomText(10));
    fs::create_directories(FFolder);
    fs::copy(accountsSource, FFolder / "accounts", fs::copy_options::recursive);
    QStringList args;
    args << QString::fromStdString(std::string(BRELVANE_SOURCE_DIR) + "/testing/standin/standin.py")
         << "--accounts" << QString::fromStdString((FFolder / "accounts").string())
         << "--max-seconds" << QString::number(maxSeconds);
    for (const std::string &arg : extraArgs) args << QString::fromStdString(arg);
    FProcess.setProcessChannelMode(QProcess::SeparateChannels);
    FProcess.start("python3", args);
    if (!FProcess.waitForStarted(10000)) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!FProcess.canReadLine() && std::chrono::steady_clock::now() < until)
      FProcess.waitForReadyRead(200);
    const QByteArray line = FProcess.readLine().trimmed();
    if (line.startsWith("PORT ")) Port = line.mid(5).toInt();
  }

  ~TStandinProcess() {
    if (FProcess.state() != QProcess::NotRunning) {
      FProcess.kill();
      FProcess.waitForFinished(5000);
    }
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }

  bool Started() const { return Port > 0; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(Port); }
  std::filesystem::path AccountsFolder() const { return FFolder / "accounts"; }
  void Kill() {
    FProcess.kill();
    FProcess.waitForFinished(5000);
  }

  // One plain HTTP exchange with the stand-in; Status 0 when it failed.
  struct TAnswer {
    int Status = 0;
    std::string Head;
    std::string Body;
  };
  TAnswer Exchange(const std::string &method, const std::string &path,
                   const std::string &body = "") const {
    TAnswer answer;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return answer;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(Port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
      ::close(fd);
      return answer;
    }
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                          "Connection: close\r\nContent-Type: application/json\r\n" +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    size_t sent = 0;
    while (sent < request.size()) {
      const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += size_t(n);
    }
    std::string wire;
    char buffer[65536];
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      wire.append(buffer, size_t(n));
    }
    ::close(fd);
    const size_t end = wire.find("\r\n\r\n");
    if (end == std::string::npos) return answer;
    answer.Head = wire.substr(0, end);
    answer.Body = wire.substr(end + 4);
    const size_t blank = answer.Head.find(' ');
    if (blank != std::string::npos) answer.Status = std::atoi(answer.Head.c_str() + blank + 1);
    return answer;
  }

  QJsonObject State() const {
    return QJsonDocument::fromJson(QByteArray::fromStdString(Exchange("GET", "/_control").Body))
        .object();
  }
  // Posts one control order; true when the stand-in took it.
  bool Order(const QJsonObject &orders) const {
    const QByteArray json = QJsonDocument(orders).toJson(QJsonDocument::Compact);
    return Exchange("POST", "/_control", json.toStdString()).Status == 200;
  }
  bool SetFault(const QString &name, const QJsonObject &options = {}) const {
    return Order({{"faults", QJsonObject{{name, options}}}});
  }
  bool ClearFaults() const { return Order({{"clear_faults", true}}); }
  bool ClearRequests() const {
    Settle();
    return Order({{"clear_requests", true}});
  }
  QJsonArray Requests() const {
    Settle();
    return State()["requests"].toArray();
  }
  // The stand-in records a request on the thread that answered it, just
  // after the answer went out, so a quick client can ask for the log before
  // its last request is in it. Waits until the log stops growing.
  void Settle() const {
    int last = -1;
    for (int round = 0; round < 40; ++round) {
      int count = 0;
      for (const auto &value : State()["requests"].toArray())
        count += value.toObject()["path"].toString() != "/_control";
      if (count == last) return;
      last = count;
      ::usleep(30000);
    }
  }
  // The requests whose method is Method (any when empty) and whose path
  // contains PathPart.
  QJsonArray RequestsTo(const QString &method, const QString &pathPart) const {
    QJsonArray out;
    for (const auto &value : Requests()) {
      const QJsonObject r = value.toObject();
      if ((method.isEmpty() || r["method"].toString() == method) &&
          r["path"].toString().contains(pathPart))
        out.append(r);
    }
    return out;
  }
  // Messages of one folder of one account, as the control endpoint lists them.
  QJsonArray Messages(const QString &account, const QString &folder) const {
    const QJsonValue accounts = State()["accounts"];
    return accounts[account]["folders"][folder].toArray();
  }

  int Port = 0;

 private:
  std::filesystem::path FFolder;
  mutable QProcess FProcess;
};
