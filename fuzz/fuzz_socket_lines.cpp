// The line reader takes whatever a server sends: lines of any length, bare
// CRs and LFs, a last line without its end. Fed through a socket pair, every
// byte must come back, in order, as lines that rejoin to the input.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/QuorClientSocket.h"

namespace {
void CheckSplit(const std::string &input) {
  std::string line = input, pushback = "P";
  TIndyClientSocket::SplitEmbeddedLineBreaks(line, pushback);
  if (line.find("\r\n") != std::string::npos) abort();
  // What was cut off stands in front of the old pushback.
  if (pushback.size() < 1 || pushback.back() != 'P') abort();
  std::string rest = pushback.substr(0, pushback.size() - 1);
  size_t lead = 0;
  while (input.compare(lead, 2, "\r\n") == 0) lead += 2;
  std::string tail = input.substr(lead);
  if (tail == line) return;
  if (tail != line + "\r\n" + rest) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 200000) return 0;
  const std::string input(reinterpret_cast<const char *>(data), size);
  CheckSplit(input);

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  int sndbuf = 1 << 20;
  ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf));
  size_t off = 0;
  while (off < input.size()) {
    ssize_t n = ::write(fds[1], input.data() + off, input.size() - off);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  ::close(fds[1]);
  if (off != input.size()) {
    ::close(fds[0]);
    return 0;
  }

  TQuorClientSocket socket("Fuzz");
  socket.SetTimeout(5000);
  if (!socket.AttachSocket(fds[0])) abort();
  std::string rejoined, line;
  bool first = true;
  while (socket.ReadLn(line)) {
    if (!first) rejoined += "\r\n";
    rejoined += line;
    first = false;
    if (rejoined.size() > input.size()) abort();
  }
  if (rejoined != input && rejoined + "\r\n" != input) abort();
  return 0;
}
