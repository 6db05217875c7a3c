#pragma once
// One stand-in service per test suite (it takes a few seconds to start),
// reset before every test: mailboxes back to the seed, no faults, no
// recorded requests, no nonces or sessions.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/StandinProcess.h"
#include "sessions/HttpMailSession.h"

struct TLoggedLine {
  std::string Text;
  uint8_t Detail;
  bool Error;
};

class HttpMailStandinTest : public testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  // A session that logs into Logged.
  std::unique_ptr<THttpMailSession> NewSession();
  // A logged-on session of the demo account.
  std::unique_ptr<THttpMailSession> DemoSession();
  int CountLogged(const std::string &part) const;
  std::string InboxUrl(const std::string &id) const;

  static TStandinProcess *Standin;
  std::vector<TLoggedLine> Logged;
  static constexpr const char *kDemoUser = "demo@hotmail.com";
  static constexpr const char *kDemoPassword = "demo-pass";
};
