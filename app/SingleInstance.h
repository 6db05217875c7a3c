#pragma once
// One running window per user and program folder. The first start listens
// on a local socket; a later start finds it, asks it to come forward and
// ends. A socket file left behind by a crash is detected (nobody answers on
// it) and replaced, so it never blocks the next start.
#include <QObject>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;

class TSingleInstance : public QObject {
 public:
  // ProgramFolder takes part in the name: two program folders are two
  // independent gateways with their own settings and ports.
  explicit TSingleInstance(const std::string &programFolder);
  ~TSingleInstance() override;

  enum TOutcome { siFirst, siHandedOver, siFailed };
  // Either becomes the instance that listens (siFirst), or tells the running
  // one to come forward (siHandedOver). siFailed: neither worked; the caller
  // should go on alone rather than refuse to start.
  TOutcome Claim();
  // Called on the running instance when another start asked it to come forward.
  std::function<void()> OnActivate;

  const QString &ServerName() const { return FName; }
  // The socket file listened on; empty unless Claim gave siFirst.
  QString FullServerName() const;
  static QString NameFor(const std::string &programFolder);

 private:
  bool HandOver();
  void Accept();

  QString FName;
  std::unique_ptr<QLocalServer> FServer;
};
