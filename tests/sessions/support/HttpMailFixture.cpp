#include "HttpMailFixture.h"

#include "http/HttpRequest.h"

TStandinProcess *HttpMailStandinTest::Standin = nullptr;

void HttpMailStandinTest::SetUpTestSuite() { Standin = new TStandinProcess(); }

void HttpMailStandinTest::TearDownTestSuite() {
  delete Standin;
  Standin = nullptr;
  SetServiceBaseOverride("");
}

void HttpMailStandinTest::SetUp() {
  ASSERT_TRUE(Standin && Standin->Started()) << "the stand-in service did not start";
  ASSERT_TRUE(Standin->Order({{"reload", true},
                              {"clear_faults", true},
                              {"clear_requests", true},
                              {"forget_nonces", true}}));
  SetServiceBaseOverride(Standin->Base());
}

void HttpMailStandinTest::TearDown() { SetServiceBaseOverride(""); }

std::unique_ptr<THttpMailSession> HttpMailStandinTest::NewSession() {
  auto session = std::make_unique<THttpMailSession>();
  session->SetOnLog([this](const std::string &text, uint8_t detail, bool error) {
    Logged.push_back({text, detail, error});
  });
  return session;
}

std::unique_ptr<THttpMailSession> HttpMailStandinTest::DemoSession() {
  auto session = NewSession();
  std::string error;
  session->Logon(kDemoUser, kDemoPassword, error);
  EXPECT_EQ(error, "");
  Standin->ClearRequests();
  Logged.clear();
  return session;
}

int HttpMailStandinTest::CountLogged(const std::string &part) const {
  int count = 0;
  for (const TLoggedLine &line : Logged)
    if (line.Text.find(part) != std::string::npos) ++count;
  return count;
}

std::string HttpMailStandinTest::InboxUrl(const std::string &id) const {
  return Standin->Base() + "/svcs/hotmail/httpmail.asp/folders/inbox/" + id;
}
