#include "servers/QtSocketTransport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QTcpSocket>
#include <cerrno>

#include "foundation/QuorUtil.h"

namespace {

std::string AddressText(const QHostAddress &address) {
  bool isV4 = false;
  quint32 v4 = address.toIPv4Address(&isV4);
  if (isV4) return IPv4ToText(htonl(v4));
  return address.toString().toStdString();
}

// The error kinds the log reports: 0 general, 1 send, 2 receive, 3 connect,
// 4 disconnect, 5 accept. Qt tells only some of them apart.
constexpr int kReceiveError = 2;
int ErrorKind(int qtError) {
  switch (qtError) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
      return 3;
    case QAbstractSocket::DatagramTooLargeError:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

TQtSocketTransport::TQtSocketTransport(std::unique_ptr<QTcpSocket> socket)
    : FSocket(std::move(socket)) {
  QTcpSocket *s = FSocket.get();
  // Replies are written to the kernel as they are made, and a reply and
  // the message after it are two writes: without this the second waits
  // for the peer's delayed acknowledgement of the first.
  s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  if (s->socketDescriptor() >= 0)
    FWatchFd = ::fcntl(static_cast<int>(s->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
  QObject::connect(s, &QTcpSocket::readyRead, s, [this] {
    if (FListener) FListener->TransportReadable();
  });
  QObject::connect(s, &QTcpSocket::disconnected, s, [this] {
    ReleaseWatch();
    if (FListener) FListener->TransportDisconnected();
  });
  QObject::connect(s, &QTcpSocket::errorOccurred, s, [this](QAbstractSocket::SocketError e) {
    if (e == QAbstractSocket::RemoteHostClosedError) {
      const bool reset = PeerReset();
      ReleaseWatch();
      // A peer that closes its end is no error; the disconnect takes care
      // of it. One that resets it has broken off the conversation.
      if (reset && FListener) FListener->TransportError(static_cast<int>(e) + 1, kReceiveError);
      return;
    }
    // The writer's own short waits for the peer end this way.
    if (e == QAbstractSocket::SocketTimeoutError) return;
    if (FSocket->state() == QAbstractSocket::UnconnectedState) ReleaseWatch();
    // Qt's codes begin at 0, which to the connection means none.
    if (FListener) FListener->TransportError(static_cast<int>(e) + 1, ErrorKind(e));
  });
}

TQtSocketTransport::~TQtSocketTransport() {
  FListener = nullptr;
  QObject::disconnect(FSocket.get(), nullptr, nullptr, nullptr);
  ReleaseWatch();
  FSocket->abort();
}

bool TQtSocketTransport::PeerReset() const {
  if (FWatchFd < 0) return false;
  tcp_info info{};
  socklen_t length = sizeof info;
  if (::getsockopt(FWatchFd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return false;
  // A peer's orderly close leaves the socket waiting for ours; a reset
  // leaves it closed outright.
  return info.tcpi_state == TCP_CLOSE;
}

void TQtSocketTransport::ReleaseWatch() {
  if (FWatchFd >= 0) ::close(FWatchFd);
  FWatchFd = -1;
}

void TQtSocketTransport::SetListener(TByteTransportListener *listener) { FListener = listener; }

bool TQtSocketTransport::Connected() const {
  return FSocket->state() == QAbstractSocket::ConnectedState;
}

bool TQtSocketTransport::Unconnected() const {
  return FSocket->state() == QAbstractSocket::UnconnectedState;
}

int64_t TQtSocketTransport::BytesAvailable() const { return FSocket->bytesAvailable(); }

std::string TQtSocketTransport::ReadAll() {
  QByteArray bytes = FSocket->readAll();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

int64_t TQtSocketTransport::Send(std::string_view data) {
  // Whatever Qt still holds goes first, or the bytes would change order.
  if (FSocket->bytesToWrite() > 0) {
    FSocket->flush();
    if (FSocket->bytesToWrite() > 0) return 0;
  }
  // Straight to the kernel: Qt's own buffer would hold a large message a
  // second time.
  const qintptr fd = FSocket->socketDescriptor();
  if (fd < 0) return -1;
  for (;;) {
    const ssize_t n =
        ::send(static_cast<int>(fd), data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }
}

int64_t TQtSocketTransport::Queued() const { return FSocket->bytesToWrite(); }

int64_t TQtSocketTransport::Unsent() const {
  int64_t total = FSocket->bytesToWrite();
  const qintptr fd = FSocket->socketDescriptor();
  int queued = 0;
  if (fd >= 0 && ::ioctl(static_cast<int>(fd), SIOCOUTQ, &queued) == 0 && queued > 0)
    total += queued;
  return total;
}

void TQtSocketTransport::WaitWritable(int ms) {
  pollfd ready{static_cast<int>(FSocket->socketDescriptor()), POLLOUT, 0};
  ::poll(&ready, 1, ms);
}

void TQtSocketTransport::Close() {
  ReleaseWatch();
  FSocket->close();
}

void TQtSocketTransport::Abort() {
  ReleaseWatch();
  FSocket->abort();
}

std::string TQtSocketTransport::PeerAddress() const { return AddressText(FSocket->peerAddress()); }

std::string TQtSocketTransport::LocalAddress() const {
  return AddressText(FSocket->localAddress());
}
