// The smart session's choice of road: HTTPMail first, the site when HTTPMail
// fails for any reason but a rejected password, and the choice kept after.
#include <gtest/gtest.h>

#include <deque>

#include "sessions/SessionFactory.h"
#include "sessions/SmartWebmailSession.h"
#include "sessions/WebmailScrapeSession.h"
#include "shared/StubSession.h"
#include "support/FakeScraper.h"
#include "support/HttpMailFixture.h"

namespace {

// An inner session that records what reaches it.
class TRecordingSession : public TStubSession {
 public:
  TRecordingSession(std::string name, std::deque<std::string> logonErrors)
      : Name(std::move(name)), LogonErrors(std::move(logonErrors)) {}

  std::string Name;
  std::deque<std::string> LogonErrors;  // used up front first; then success
  std::vector<std::string> Calls;

  void SetTerminateFlag(const bool *flag) override {
    Calls.push_back("terminate");
    TBasicWebMailSession::SetTerminateFlag(flag);
  }
  void SetCancelFlag(const bool *flag) override {
    Calls.push_back("cancel");
    TBasicWebMailSession::SetCancelFlag(flag);
  }
  void SetOnLoggedOn(TSessionLoggedOnEvent callback) override {
    Calls.push_back("loggedon");
    TBasicWebMailSession::SetOnLoggedOn(std::move(callback));
  }
  void SetOnLog(TSessionLogEvent callback) override {
    Calls.push_back("log");
    TBasicWebMailSession::SetOnLog(std::move(callback));
  }
  void SetMaxLogonAttempts(int value) override {
    Calls.push_back("attempts=" + std::to_string(value));
    TBasicWebMailSession::SetMaxLogonAttempts(value);
  }
  void SetSpareSetting(int value) override {
    Calls.push_back("spare=" + std::to_string(value));
    TBasicWebMailSession::SetSpareSetting(value);
  }
  void SetUserId(const std::string &userId) override {
    Calls.push_back("user=" + userId);
    UserId = userId;
  }
  void SetPassword(const std::string &password) override {
    Calls.push_back("password=" + password);
    Password = password;
  }
  void Logon(const std::string &userId, const std::string &password, std::string &error) override {
    Calls.push_back("Logon");
    TBasicWebMailSession::Logon(userId, password, error);
  }
  void DoLogon(const std::string &userId, const std::string &, std::string &error) override {
    Calls.push_back("DoLogon " + userId);
    if (!LogonErrors.empty()) {
      error = LogonErrors.front();
      LogonErrors.pop_front();
      return;
    }
    if (FOnLoggedOn) FOnLoggedOn(userId, "");
  }
  void GetInboxList(TBasicMailMsgInfoList &, std::string &error) override {
    Calls.push_back("inbox");
    error.clear();
  }
  void GetJunkMailList(TBasicMailMsgInfoList &, std::string &) override { Calls.push_back("junk"); }
  void GetMsg(const std::string &url, TStringList &lines, std::string &, int attempts) override {
    Calls.push_back("GetMsg " + url + " " + std::to_string(attempts));
    lines = {Name};
  }
  void MarkMsgRead(const std::string &, int, std::string &) override { Calls.push_back("read"); }
  void DeleteMsgs(const TStringList &, std::string &) override { Calls.push_back("delete"); }
  bool CheckLoggedOn() override { return true; }
  void SendMsg(const std::string &, bool, std::string &, int, const TStringList &,
               const TStringList &, bool) override {
    Calls.push_back("send");
  }
};

class SmartSessionTest : public testing::Test {
 protected:
  // Each road's logon results, for the inner sessions made from now on.
  std::deque<std::string> HttpResults, ScrapeResults;
  std::vector<TRecordingSession *> HttpMade, ScrapeMade;  // owned by the smart session
  std::vector<std::pair<std::string, uint8_t>> Logged;

  std::unique_ptr<TSmartWebmailSession> NewSmart() {
    auto smart = std::make_unique<TSmartWebmailSession>(
        [this]() -> std::unique_ptr<TBasicWebMailSession> {
          auto s = std::make_unique<TRecordingSession>("http", HttpResults);
          HttpResults.clear();
          HttpMade.push_back(s.get());
          return s;
        },
        [this]() -> std::unique_ptr<TBasicWebMailSession> {
          auto s = std::make_unique<TRecordingSession>("scrape", ScrapeResults);
          ScrapeResults.clear();
          ScrapeMade.push_back(s.get());
          return s;
        });
    smart->SetOnLog([this](const std::string &text, uint8_t detail, bool) {
      Logged.push_back({text, detail});
    });
    return smart;
  }

  bool WasLogged(const std::string &text, uint8_t detail) const {
    for (const auto &line : Logged)
      if (line.first == text && line.second == detail) return true;
    return false;
  }
};

TEST_F(SmartSessionTest, BeforeAnyLogonEveryMailboxOperationIsAnInternalError) {
  auto smart = NewSmart();
  TBasicMailMsgInfoList list;
  TStringList lines;
  std::string error;
  smart->GetInboxList(list, error);
  EXPECT_EQ(error, "Internal Error: inbox listing before login");
  smart->GetJunkMailList(list, error);
  EXPECT_EQ(error, "Internal Error: junkmail listing before login");
  smart->GetMsg("u", lines, error, 5);
  EXPECT_EQ(error, "Internal Error: GetMsg before login");
  std::string text = "stale";
  smart->GetMsgText("u", text, error, 5);
  EXPECT_EQ(error, "Internal Error: GetMsg before login");
  smart->MarkMsgRead("u", 5, error);
  EXPECT_EQ(error, "Internal Error: MarkMsgRead before login");
  smart->DeleteMsgs({"u"}, error);
  EXPECT_EQ(error, "Internal Error: DeleteMsgs before login");
  smart->SendMsg("a@b", false, error, 3, {"x"}, {"c@d"}, false);
  EXPECT_EQ(error, "Internal Error: SendMsg before login");
  EXPECT_FALSE(smart->CheckLoggedOn());
  EXPECT_FALSE(smart->LoggedOn());
  smart->SetUserId("Someone@MSN.com");
  EXPECT_EQ(smart->GetUserId(), "Someone@MSN.com");
  EXPECT_EQ(smart->GetServiceName(), "MSN");
  EXPECT_TRUE(HttpMade.empty());
}

TEST_F(SmartSessionTest, HttpMailThatWorksIsKeptWithTheSettingsHandedOn) {
  auto smart = NewSmart();
  bool terminate = false, cancel = false;
  smart->SetUserId("jdoe@hotmail.com");
  smart->SetPassword("pw");
  smart->SetTerminateFlag(&terminate);
  smart->SetCancelFlag(&cancel);
  smart->SetMaxLogonAttempts(4);
  smart->SetSpareSetting(33);
  std::vector<std::string> told;
  smart->SetOnLoggedOn([&](const std::string &user, const std::string &) { told.push_back(user); });

  std::string error;
  smart->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(HttpMade.size(), 1u);
  TRecordingSession *http = HttpMade[0];
  EXPECT_EQ(smart->Inner(), http);
  EXPECT_EQ(http->Calls,
            (std::vector<std::string>{"terminate", "cancel", "loggedon", "log",
                                      "user=jdoe@hotmail.com", "password=pw", "attempts=4",
                                      "spare=33", "Logon", "DoLogon jdoe@hotmail.com"}));
  EXPECT_EQ(http->GetTerminateFlag(), &terminate);
  EXPECT_EQ(http->GetCancelFlag(), &cancel);
  EXPECT_EQ(told, std::vector<std::string>{"jdoe@hotmail.com"});
  EXPECT_TRUE(WasLogged("Logged in with WebDav", 10));
  EXPECT_TRUE(ScrapeMade.empty());
  EXPECT_TRUE(smart->LoggedOn());

  // From now on everything goes through, the settings included.
  http->Calls.clear();
  TStringList lines;
  smart->GetMsg("u1", lines, error, 5);
  EXPECT_EQ(lines, TStringList{"http"});
  smart->SetMaxLogonAttempts(2);
  smart->SetUserId("other@hotmail.com");
  EXPECT_EQ(smart->GetUserId(), "other@hotmail.com");
  std::vector<std::string> laterLog;
  smart->SetOnLog([&](const std::string &text, uint8_t, bool) { laterLog.push_back(text); });
  http->Log("from inside", 5, false);
  EXPECT_EQ(laterLog, std::vector<std::string>{"from inside"});
  EXPECT_EQ(http->Calls, (std::vector<std::string>{"GetMsg u1 5", "attempts=2",
                                                   "user=other@hotmail.com", "log"}));
  // The text form reaches the inner session too (here through its lines).
  std::string text;
  smart->GetMsgText("u2", text, error, 3);
  EXPECT_EQ(text, "http\r\n");
  EXPECT_EQ(http->Calls.back(), "GetMsg u2 3");

  smart->Logoff();
  EXPECT_FALSE(smart->LoggedOn());
  EXPECT_FALSE(http->LoggedOn());
  // The next log-on goes straight to the kept session.
  smart->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(HttpMade.size(), 1u);
  EXPECT_TRUE(smart->LoggedOn());
}

TEST_F(SmartSessionTest, ARejectedPasswordTriesNoOtherRoadAndHttpMailAgainNextTime) {
  auto smart = NewSmart();
  HttpResults = {"401 Bad Password"};
  std::string error;
  smart->Logon("jdoe@hotmail.com", "wrong", error);
  EXPECT_EQ(error, "401 Bad Password");
  EXPECT_EQ(smart->Inner(), nullptr);
  EXPECT_TRUE(ScrapeMade.empty());
  EXPECT_FALSE(smart->LoggedOn());

  smart->Logon("jdoe@hotmail.com", "right", error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(HttpMade.size(), 2u);
  EXPECT_EQ(smart->Inner(), HttpMade[1]);
}

TEST_F(SmartSessionTest, OtherHttpMailFailuresFallBackToTheSite) {
  auto smart = NewSmart();
  smart->SetUserId("jdoe@hotmail.com");
  smart->SetPassword("pw");
  HttpResults = {"503 The service is down 1000"};
  std::string error;
  smart->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(ScrapeMade.size(), 1u);
  EXPECT_EQ(smart->Inner(), ScrapeMade[0]);
  EXPECT_TRUE(WasLogged("Logged in with HTTP.", 10));
  EXPECT_FALSE(WasLogged("Logged in with WebDav", 10));
  // The site session got the same settings in the same order.
  EXPECT_EQ(
      std::vector<std::string>(ScrapeMade[0]->Calls.begin(), ScrapeMade[0]->Calls.begin() + 6),
      (std::vector<std::string>{"terminate", "cancel", "loggedon", "log", "user=jdoe@hotmail.com",
                                "password=pw"}));
  TStringList lines;
  smart->GetMsg("u1", lines, error, 5);
  EXPECT_EQ(lines, TStringList{"scrape"});
  EXPECT_TRUE(smart->LoggedOn());
}

TEST_F(SmartSessionTest, AFailedFallbackIsReportedAndKeptForTheNextLogon) {
  auto smart = NewSmart();
  HttpResults = {"Could not connect"};
  ScrapeResults = {"Failed to connect to hotmail"};
  std::string error;
  smart->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "Failed to connect to hotmail");
  EXPECT_FALSE(smart->LoggedOn());
  ASSERT_EQ(ScrapeMade.size(), 1u);
  EXPECT_EQ(smart->Inner(), ScrapeMade[0]);
  EXPECT_FALSE(WasLogged("Logged in with HTTP.", 10));

  smart->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(HttpMade.size(), 1u);
  EXPECT_EQ(ScrapeMade.size(), 1u);
  EXPECT_TRUE(smart->LoggedOn());
}

TEST_F(SmartSessionTest, NoBrowserIsStartedWhileTheApplicationStops) {
  auto smart = NewSmart();
  bool terminate = false;
  smart->SetTerminateFlag(&terminate);
  HttpResults = {"Asked to terminate nicely"};
  terminate = true;
  std::string error;
  smart->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "Asked to terminate nicely");
  EXPECT_TRUE(ScrapeMade.empty());
  EXPECT_EQ(smart->Inner(), nullptr);
}

TEST_F(SmartSessionTest, DoLogonWithoutLogonLeavesTheInnerFlagAlone) {
  auto smart = NewSmart();
  std::string error;
  smart->DoLogon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(HttpMade.size(), 1u);
  EXPECT_EQ(HttpMade[0]->Calls.back(), "DoLogon jdoe@hotmail.com");
  EXPECT_EQ(std::count(HttpMade[0]->Calls.begin(), HttpMade[0]->Calls.end(), "Logon"), 0);
  EXPECT_FALSE(smart->LoggedOn());
}

// The real HTTPMail session against the stand-in, failing on a service
// error; the site road then takes over (here a scraper without a browser).
class SmartSessionStandinTest : public HttpMailStandinTest {};

TEST_F(SmartSessionStandinTest, AServiceErrorFallsBackAndARejectedPasswordDoesNot) {
  ASSERT_TRUE(Standin->SetFault("status", {{"code", 500}}));
  TFakeScraper *site = nullptr;
  TSmartWebmailSession smart(nullptr, [&site]() -> std::unique_ptr<TBasicWebMailSession> {
    return std::make_unique<TWebmailScrapeSession>([&site]() -> std::unique_ptr<TSiteScraper> {
      auto scraper = std::make_unique<TFakeScraper>();
      site = scraper.get();
      return scraper;
    });
  });
  smart.SetMaxLogonAttempts(2);
  std::vector<std::string> lines;
  smart.SetOnLog([&](const std::string &text, uint8_t, bool) { lines.push_back(text); });
  std::string error;
  smart.Logon(kDemoUser, "pw", error);
  EXPECT_EQ(error, "");
  ASSERT_NE(site, nullptr);
  EXPECT_EQ(site->LoginCalls, 1);
  EXPECT_NE(dynamic_cast<TWebmailScrapeSession *>(smart.Inner()), nullptr);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Logged in with HTTP."), lines.end());
  EXPECT_FALSE(Standin->RequestsTo("PROPFIND", "/svcs/hotmail/httpmail.asp").isEmpty());

  ASSERT_TRUE(Standin->ClearFaults());
  TSmartWebmailSession refused(nullptr, []() -> std::unique_ptr<TBasicWebMailSession> {
    ADD_FAILURE() << "a rejected password must not reach the site";
    return std::make_unique<TWebmailScrapeSession>(
        []() -> std::unique_ptr<TSiteScraper> { return std::make_unique<TFakeScraper>(); });
  });
  refused.Logon(kDemoUser, "not-the-password", error);
  EXPECT_EQ(error.rfind("401", 0), 0u) << error;
  EXPECT_EQ(refused.Inner(), nullptr);
}

TEST(PooledSession, IsASmartSession) {
  auto session = CreatePooledSession();
  EXPECT_NE(dynamic_cast<TSmartWebmailSession *>(session.get()), nullptr);
}

}  // namespace
