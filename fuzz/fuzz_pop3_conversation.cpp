// A whole POP3 conversation from fuzzed client bytes through the gateway's
// real command handling, over an in-memory stream, against an in-memory
// mailbox.
#include <cstddef>
#include <cstdint>

#include "ConversationDriver.h"
#include "servers/Pop3HotmailServer.h"
#include "servers/support/TestMailbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TConversationDriver::Init();
  TTestMailbox mailbox;  // outlives the server: connections log off in their clean-up
  mailbox.SetExpectedPassword("secret");
  mailbox.AddMessage("U1", {"From: a@example.com", "Subject: one", "", "body"});
  mailbox.AddMessage("U2", {"Subject: dots", "", ".", "..two", ".x", ""});
  mailbox.AddMessage("U3", {"Subject: read", "", "seen"}, /*isRead=*/true);
  mailbox.AddMessage("U4", {"Subject: junk", "", "spam"}, false, TTestMessage::kComputeSize,
                     /*inJunk=*/true);
  {
    TPop3HotmailServer server;
    server.SetBanner("+OK fuzz");
    server.SetDownloadRecordPath(":memory:");
    server.OnNeedSession = [&mailbox](const std::string &, const std::string &) {
      return static_cast<TBasicWebMailSession *>(&mailbox);
    };
    TConversationDriver::Drive(server, data, size);
  }
  return 0;
}
