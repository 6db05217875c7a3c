#include "support/ScriptedConversation.h"

#include "support/LoopbackClient.h"

TScriptedConversation::TScriptedConversation(TQuorServer &server, bool banner,
                                             const std::string &peerAddress)
    : FPeer(std::make_shared<TMemoryPeer>()) {
  FConnection = server.Adopt(std::make_unique<TMemoryTransport>(FPeer, peerAddress));
  if (banner) Tick();
}

TScriptedConversation::~TScriptedConversation() {
  Close();
  WaitGone(5000);
}

TQuorServerSpawnedSocket *TScriptedConversation::Connection() const { return FConnection.data(); }

void TScriptedConversation::Tick(int count) {
  for (int i = 0; i < count && FConnection; ++i) FConnection->IdleTick();
}

bool TScriptedConversation::Send(const std::string &bytes) {
  // As a socket send: the bytes are taken, whatever the server then does
  // with them (a QUIT closes the stream before Write returns).
  const bool open = FPeer->Open();
  FPeer->Write(bytes);
  return open;
}

bool TScriptedConversation::ReadLine(std::string &line, int limitMs) {
  auto take = [&] {
    FBuffer += FPeer->TakeReceived();
    const size_t end = FBuffer.find("\r\n");
    if (end == std::string::npos) return false;
    line = FBuffer.substr(0, end);
    FBuffer.erase(0, end + 2);
    return true;
  };
  // A handler waiting on the mailbox answers from inside the loop; a line
  // sent just before a close is still read.
  bool got = false;
  PumpUntil([&] { return (got = take()) || !FPeer->Open(); }, limitMs);
  return got || take();
}

std::string TScriptedConversation::Cmd(const std::string &line, int limitMs) {
  Send(line + "\r\n");
  std::string reply;
  return ReadLine(reply, limitMs) ? reply : "<no reply>";
}

TStringList TScriptedConversation::Body() {
  TStringList lines;
  std::string line;
  while (ReadLine(line, 10000)) {
    if (line == ".") return lines;
    lines.push_back(line);
  }
  lines.push_back("<unterminated>");
  return lines;
}

bool TScriptedConversation::WaitClosed(int limitMs) {
  return PumpUntil([&] { return FPeer->ServerClosed(); }, limitMs);
}

bool TScriptedConversation::WaitGone(int limitMs) {
  return PumpUntil([&] { return FConnection.isNull(); }, limitMs);
}

void TScriptedConversation::Close() { FPeer->Close(); }

testing::AssertionResult TScriptedConversation::Run(const std::vector<TScriptStep> &steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    const TScriptStep &step = steps[i];
    std::string line;
    switch (step.Kind) {
      case TScriptStep::sk_ClientSays:
        Send(step.Text + "\r\n");
        break;
      case TScriptStep::sk_ServerAnswers:
      case TScriptStep::sk_ServerAnswersPrefix: {
        const bool exact = step.Kind == TScriptStep::sk_ServerAnswers;
        if (!ReadLine(line))
          return testing::AssertionFailure()
                 << "step " << i + 1 << ": no answer, expected \"" << step.Text << "\"";
        if (exact ? line != step.Text : line.rfind(step.Text, 0) != 0)
          return testing::AssertionFailure()
                 << "step " << i + 1 << ": server answered \"" << line << "\", expected "
                 << (exact ? "" : "a line beginning ") << "\"" << step.Text << "\"";
        break;
      }
      case TScriptStep::sk_ServerCloses:
        if (!WaitClosed())
          return testing::AssertionFailure() << "step " << i + 1 << ": the server did not close";
        break;
    }
  }
  return testing::AssertionSuccess();
}
