#include "app/SingleInstance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace {

constexpr int kHandOverMs = 3000;
const QByteArray kActivate = "activate\n";

}  // namespace

TSingleInstance::TSingleInstance(const std::string &programFolder)
    : FName(NameFor(programFolder)) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::NameFor(const std::string &programFolder) {
  const QString folder = QDir(QString::fromStdString(programFolder)).absolutePath();
  const QByteArray hash = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1);
  return QStringLiteral("BrelvaneRed-%1-%2")
      .arg(::getuid())
      .arg(QString::fromLatin1(hash.toHex().left(16)));
}

bool TSingleInstance::HandOver() {
  QLocalSocket socket;
  socket.connectToServer(FName);
  if (!socket.waitForConnected(kHandOverMs)) return false;
  socket.write(kActivate);
  if (!socket.waitForBytesWritten(kHandOverMs)) return false;
  // The answer says the running instance read the request; without it a
  // dying instance could swallow the start.
  return socket.waitForReadyRead(kHandOverMs) && socket.readAll().startsWith("ok");
}

TSingleInstance::TOutcome TSingleInstance::Claim() {
  // Two starts at the same moment must not both find no server and both
  // listen: the check and the listen happen under a lock file, which Qt
  // takes over when the process that held it has died.
  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) runtime = QDir::tempPath();
  QLockFile lock(runtime + "/" + FName + ".lock");
  lock.setStaleLockTime(0);
  const bool locked = lock.tryLock(kHandOverMs * 2);

  if (HandOver()) return siHandedOver;
  FServer = std::make_unique<QLocalServer>();
  FServer->setSocketOptions(QLocalServer::UserAccessOption);
  bool listening = FServer->listen(FName);
  if (!listening && FServer->serverError() == QAbstractSocket::AddressInUseError) {
    // Nobody answered on it, so the socket file is what a crash left.
    QLocalServer::removeServer(FName);
    listening = FServer->listen(FName);
  }
  if (locked) lock.unlock();
  if (!listening) {
    FServer.reset();
    return siFailed;
  }
  connect(FServer.get(), &QLocalServer::newConnection, this, [this] { Accept(); });
  return siFirst;
}

QString TSingleInstance::FullServerName() const {
  return FServer ? FServer->fullServerName() : QString();
}

void TSingleInstance::Accept() {
  while (QLocalSocket *socket = FServer->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) return;
      const QByteArray request = socket->readLine();
      if (request == kActivate) {
        socket->write("ok\n");
        socket->flush();
        if (OnActivate) OnActivate();
      }
      socket->disconnectFromServer();
    });
  }
}
