#include "sessions/BasicWebmail.h"

#include <gtest/gtest.h>

#include "shared/StubSession.h"

namespace {

// The smallest concrete session: log-on outcome chosen by the test.
class TFakeSession : public TStubSession {
 public:
  std::string LogonError;
  TStringList Deleted;

  void DoLogon(const std::string &userId, const std::string &, std::string &error) override {
    UserId = userId;
    error = LogonError;
  }
  void DeleteMsgs(const TStringList &urls, std::string &error) override {
    Deleted.insert(Deleted.end(), urls.begin(), urls.end());
    error = "500 kept to prove DeleteMsg drops it";
  }
  bool CheckLoggedOn() override { return LoggedOn(); }
};

std::unique_ptr<TBasicMailMsgInfo> Info(const std::string &uidl, int64_t size = -1) {
  auto info = std::make_unique<TBasicMailMsgInfo>();
  info->Uidl = uidl;
  info->Size = size;
  return info;
}

TEST(MailMsgInfoList, RefusesRepeatedUidlExactlyAndKeepsTheFirst) {
  TBasicMailMsgInfoList list;
  EXPECT_EQ(list.Add(Info("A1", 10)), 0);
  EXPECT_EQ(list.Add(Info("a1", 20)), 1);  // differs in case: another message
  EXPECT_EQ(list.Add(Info("A1", 30)), -1);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0)->Size, 10);
  EXPECT_EQ(list.IndexOfUidl("a1"), 1);
  EXPECT_EQ(list.IndexOfUidl("B"), -1);

  std::unique_ptr<TBasicMailMsgInfo> taken = list.Delete(0);
  EXPECT_EQ(taken->Uidl, "A1");
  EXPECT_EQ(list.IndexOfUidl("a1"), 0);
  // Once removed, the UIDL may be listed again.
  EXPECT_EQ(list.Add(Info("A1")), 1);

  TBasicMailMsgInfo fresh;
  EXPECT_EQ(fresh.Size, -1);
  EXPECT_FALSE(fresh.IsRead);
}

TEST(BasicWebMailSession, ServiceNameFollowsTheUserIdDomain) {
  TFakeSession session;
  session.UserId = "someone@MSN.com";
  EXPECT_EQ(session.GetServiceName(), "MSN");
  session.UserId = "someone@msnbc.example";
  EXPECT_EQ(session.GetServiceName(), "MSN");
  session.UserId = "someone@hotmail.com";
  EXPECT_EQ(session.GetServiceName(), "Hotmail");
  session.UserId = "msn@example.com";  // "msn" without the "@" before it
  EXPECT_EQ(session.GetServiceName(), "Hotmail");
}

TEST(BasicWebMailSession, LoggedOnFollowsLogonOutcomeAndLogoff) {
  TFakeSession session;
  std::string error;
  session.LogonError = "401 Unauthorized";
  session.Logon("a@hotmail.com", "pw", error);
  EXPECT_EQ(error, "401 Unauthorized");
  EXPECT_FALSE(session.LoggedOn());

  session.LogonError.clear();
  error = "stale text from an earlier call";
  session.Logon("a@hotmail.com", "pw", error);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(session.LoggedOn());
  session.Logoff();
  EXPECT_FALSE(session.LoggedOn());
}

TEST(BasicWebMailSession, LogReachesCallbackAndDeleteMsgDropsTheError) {
  TFakeSession session;
  session.Log("nobody listens", 5, false);  // no callback: must not crash

  std::vector<std::tuple<std::string, int, bool>> seen;
  session.SetOnLog([&](const std::string &text, uint8_t detail, bool error) {
    // The callback runs under the session's lock, re-entrantly.
    EXPECT_TRUE(session.Lock().IsOwned());
    seen.emplace_back(text, detail, error);
  });
  session.Log("hello", 8, true);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_tuple(std::string("hello"), 8, true));

  session.DeleteMsg("url-1");
  EXPECT_EQ(session.Deleted, TStringList{"url-1"});

  bool terminate = false;
  session.SetTerminateFlag(&terminate);
  EXPECT_FALSE(session.Terminating());
  terminate = true;
  EXPECT_TRUE(session.Terminating());
  EXPECT_EQ(session.GetMaxLogonAttempts(), 10);
  EXPECT_EQ(session.GetSpareSetting(), 60);
}

}  // namespace
