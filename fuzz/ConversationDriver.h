#pragma once
// Plays a fuzzed client against a real connection object of a gateway
// server over an in-memory stream, with the event loop run a bounded
// amount between writes, and checks what holds for any client: every byte
// the server sends belongs to a CR LF line, and once the client has left
// the connection is freed.
#include <QCoreApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "http/Connectivity.h"
#include "servers/MemoryTransport.h"
#include "servers/QuorServer.h"

class TConversationDriver {
 public:
  // The loop the servers need, made once per process.
  static void Init() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    (void)app;
    // A log-on failure that looks like an unreachable service runs the
    // connectivity probe: it must find a closed local port, not the net.
    SetConnectivityProbeHost("127.0.0.1", 9);
  }

  // Data[0] chooses how the rest is cut into writes (1 to 128 bytes each)
  // and after how many writes an idle tick falls (never, or 1 to 7).
  static void Drive(TQuorServer &server, const uint8_t *data, size_t size) {
    // Nothing reaches the diagnostic files; with BRELVANE_FUZZ_SHOW set the
    // log lines go to standard error, to see what the server made of an input.
    const bool show = std::getenv("BRELVANE_FUZZ_SHOW") != nullptr;
    server.SetOnLog(
        [show](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &text, uint8_t, bool) {
          if (show) std::fprintf(stderr, "log: %s\n", text.c_str());
          return false;
        });
    const size_t step = size > 0 ? size_t(1) << (data[0] & 7) : 1;
    const int tickEvery = size > 0 ? (data[0] >> 4) & 7 : 0;
    const std::string stream =
        size > 1 ? std::string(reinterpret_cast<const char *>(data) + 1, size - 1) : std::string();
    auto peer = std::make_shared<TMemoryPeer>();
    server.Adopt(std::make_unique<TMemoryTransport>(peer));
    Pump(server, 2);
    Tick(server);  // the greeting
    std::string received = peer->TakeReceived();
    int writes = 0;
    for (size_t pos = 0; pos < stream.size() && peer->Open(); pos += step) {
      peer->Write(stream.substr(pos, step));
      Pump(server, 2);
      if (tickEvery && ++writes % tickEvery == 0) Tick(server);
      received += peer->TakeReceived();
    }
    peer->Close();
    Pump(server, 50);
    received += peer->TakeReceived();
    // To see what the server answered to a saved input.
    if (show) std::fwrite(received.data(), 1, received.size(), stderr);
    CheckLines(received);
    if (server.ActiveConnections() != 0) std::abort();
  }

 private:
  static void Pump(TQuorServer &server, int rounds) {
    for (int i = 0; i < rounds; ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      if (server.ActiveConnections() == 0) return;
    }
  }

  static void Tick(TQuorServer &server) {
    if (!server.Connections().empty()) server.Connections().front()->IdleTick();
  }

  // A reply is a line: a CR is always followed by LF and a LF always
  // follows a CR, so no client text can break a reply or forge another.
  static void CheckLines(const std::string &bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n')) std::abort();
      if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) std::abort();
    }
    if (!bytes.empty() && bytes.back() != '\n') std::abort();
  }
};
