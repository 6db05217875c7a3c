#pragma once
// The SMTP gateway with the in-memory mailbox behind it and its log and
// session requests recorded; the socket tests and the scripted tests differ
// only in how clients reach it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "servers/ESMTPHotmailServer.h"
#include "support/LoopbackClient.h"
#include "support/ServerTestKit.h"
#include "support/TestMailbox.h"

class TEsmtpGatewayFixture : public testing::Test {
 protected:
  static constexpr const char *kBanner = "220 Welcome to the Brelvane SMTP gateway.";

  // Listening on a loopback port of its own (FPort), or, without Listen,
  // reached only through Adopt.
  void StartGateway(bool listen) {
    FServer = std::make_unique<TESMTPHotmailServer>();
    FServer->SetBanner(kBanner);
    FServer->SetMaxConnections(50);
    FServer->SetOnLog([this](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &text,
                             uint8_t detail, bool) {
      FLog.push_back(std::to_string(detail) + "|" + text);
      return false;
    });
    FMailbox.SetExpectedPassword("secret");
    // A pooled account for anonymous senders only when the test says so.
    FServer->OnNeedSession = [this](const std::string &user, const std::string &password) {
      FNeedSessionCalls.push_back(user + "/" + password);
      if (user.empty() && !FPooled) return static_cast<TBasicWebMailSession *>(nullptr);
      // As the pool does: the session carries the credentials asked for.
      FMailbox.SetUserId(user.empty() ? "pooled@hotmail.com" : user);
      FMailbox.SetPassword(user.empty() ? "secret" : password);
      return static_cast<TBasicWebMailSession *>(&FMailbox);
    };
    if (!listen) return;
    FServer->SetListenAddress("127.0.0.1");
    FServer->SetPort(0);
    FServer->SetActive(true);
    FPort = FServer->BoundPort();
  }

  void TearDown() override {
    FServer.reset();
    PumpFor(20);
  }

  bool LogHas(const std::string &part) const {
    for (const auto &l : FLog)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  std::unique_ptr<TESMTPHotmailServer> FServer;
  TTestMailbox FMailbox;
  bool FPooled = false;
  TStringList FNeedSessionCalls;
  TStringList FLog;
  int FPort = 0;
};
