#pragma once
// One client conversation with a real connection object of a server (POP3,
// SMTP or a test protocol) over an in-memory stream: no listening socket, no
// network wait. The client's lines reach the connection at once; the
// server's answers are read back as lines. Idle ticks, which the loop gives
// once a second, are run on demand, so the banner and time-outs need no
// waiting.
#include <gtest/gtest.h>

#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"
#include "servers/MemoryTransport.h"
#include "servers/QuorServer.h"

// A step of a script: the client says a line, or the server must answer
// with a line (exactly, or beginning with a text), or must close.
struct TScriptStep {
  enum TKind { sk_ClientSays, sk_ServerAnswers, sk_ServerAnswersPrefix, sk_ServerCloses };
  TKind Kind;
  std::string Text;
};
inline TScriptStep ClientSays(std::string line) {
  return {TScriptStep::sk_ClientSays, std::move(line)};
}
inline TScriptStep ServerAnswers(std::string line) {
  return {TScriptStep::sk_ServerAnswers, std::move(line)};
}
inline TScriptStep ServerAnswersWith(std::string prefix) {
  return {TScriptStep::sk_ServerAnswersPrefix, std::move(prefix)};
}
inline TScriptStep ServerCloses() { return {TScriptStep::sk_ServerCloses, ""}; }

class TScriptedConversation {
 public:
  // Opens the conversation: the server builds its connection object as for
  // an accepted socket from PeerAddress. With Banner the first idle tick
  // runs at once, so the greeting is waiting to be read.
  TScriptedConversation(TQuorServer &server, bool banner = true,
                        const std::string &peerAddress = "127.0.0.1");
  // The client leaves if it has not, and the connection is let go.
  ~TScriptedConversation();
  TScriptedConversation(const TScriptedConversation &) = delete;
  TScriptedConversation &operator=(const TScriptedConversation &) = delete;

  // Null once the server has freed it.
  TQuorServerSpawnedSocket *Connection() const;
  // Runs Count idle ticks, as the connection's one-second timer does.
  void Tick(int count = 1);

  // Raw bytes, no line end added; false when the stream had closed already.
  bool Send(const std::string &bytes);
  // Next line the server sent, without its CR LF; waits (running the loop)
  // at most LimitMs for it. False when none came or the stream closed.
  bool ReadLine(std::string &line, int limitMs = 5000);
  // Says Line (CR LF added) and gives the first line of the answer, or
  // "<no reply>".
  std::string Cmd(const std::string &line, int limitMs = 5000);
  // The lines of a multi-line answer after its first line, up to the ".".
  TStringList Body();
  // Waits until the server has closed the stream (unread answers stay).
  bool WaitClosed(int limitMs = 5000);
  // Waits until the server has freed the connection object.
  bool WaitGone(int limitMs = 5000);
  // The client closes its end.
  void Close();
  // Whatever the server sent and no ReadLine has taken.
  std::string Unread() const { return FBuffer + FPeer->Received(); }
  TMemoryPeer &Peer() { return *FPeer; }

  // Plays Steps in order; the result names the first step that failed.
  testing::AssertionResult Run(const std::vector<TScriptStep> &steps);

 private:
  std::shared_ptr<TMemoryPeer> FPeer;
  QPointer<TQuorServerSpawnedSocket> FConnection;
  std::string FBuffer;
};
