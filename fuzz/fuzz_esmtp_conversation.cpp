// A whole SMTP conversation from fuzzed client bytes through the gateway's
// real command handling, over an in-memory stream, against an in-memory
// mailbox that takes the messages.
#include <cstddef>
#include <cstdint>

#include "ConversationDriver.h"
#include "servers/ESMTPHotmailServer.h"
#include "servers/support/TestMailbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TConversationDriver::Init();
  TTestMailbox mailbox;  // outlives the server: connections release it in their clean-up
  mailbox.SetExpectedPassword("secret");
  {
    TESMTPHotmailServer server;
    server.SetBanner("220 fuzz");
    // Small enough that the size limit is within a fuzzer's reach.
    server.MaxMessageBytes = 2048;
    server.OnNeedSession = [&mailbox](const std::string &user, const std::string &password) {
      // As the pool does: the session carries the credentials asked for,
      // and a sender without them gets the pooled account.
      mailbox.SetUserId(user.empty() ? "pooled@hotmail.com" : user);
      mailbox.SetPassword(user.empty() ? "secret" : password);
      return static_cast<TBasicWebMailSession *>(&mailbox);
    };
    TConversationDriver::Drive(server, data, size);
  }
  return 0;
}
