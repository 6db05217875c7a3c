// The pool hands out sessions by account and idleness; a fake session stands
// in for the service so the tests see exactly which object comes back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "foundation/QuorUtil.h"
#include "log/Log.h"
#include "sessions/SessionPool.h"
#include "shared/StubSession.h"
#include "shared/TestFiles.h"

namespace {

class TFakeSession : public TStubSession {
 public:
  bool ServiceLogonAlive = false;  // what CheckLoggedOn reports
  // Runs inside DoLogon, where a real session waits on the service with the
  // loop running and other connections' requests come in.
  std::function<void()> DuringLogon;

  void DoLogon(const std::string &userId, const std::string &password,
               std::string &error) override {
    if (DuringLogon) DuringLogon();
    if (password == "wrong") {
      error = "401 Bad Password";
      return;
    }
    ServiceLogonAlive = true;
    Log("logged on " + userId, 5, false);
    if (FOnLoggedOn) FOnLoggedOn(userId, password);
  }
  bool CheckLoggedOn() override { return ServiceLogonAlive; }
};

TSessionPool::TFactory FakeFactory() {
  return [] { return std::make_unique<TFakeSession>(); };
}

// Borrow as a connection does: obtain, log on.
TBasicWebMailSession *Borrow(TSessionPool &pool, const std::string &user, const std::string &pass) {
  TBasicWebMailSession *session = pool.NeedSession(user, pass);
  if (!session) return nullptr;
  std::string error;
  session->Logon(session->GetUserId(), session->GetPassword(), error);
  return session;
}

// Give back as a connection does at its end.
void GiveBack(TBasicWebMailSession *session) {
  std::unique_ptr<TBasicWebMailSession> none;
  ReleaseBorrowedSession(session, none);
}

}  // namespace

TEST(SessionPool, ConcurrentConnectionsForOneAccountGetOwnSessionsAndTheFirstIsReused) {
  TSessionPool pool(FakeFactory());
  TBasicWebMailSession *first = Borrow(pool, "a@hotmail.com", "pw");
  TBasicWebMailSession *second = Borrow(pool, "a@hotmail.com", "pw");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  GiveBack(second);
  GiveBack(first);
  EXPECT_EQ(pool.NeedSession("a@hotmail.com", "pw"), first);
  // While the first is busy again, the second one (idle) is found rather
  // than a third being made.
  std::string error;
  first->Logon("a@hotmail.com", "pw", error);
  EXPECT_EQ(pool.NeedSession("A@Hotmail.com", "pw"), second);
  EXPECT_EQ(pool.Count(), 2);
}

TEST(SessionPool, UserIdMatchesWithoutCaseButPasswordExactly) {
  TSessionPool pool(FakeFactory());
  TBasicWebMailSession *session = pool.NeedSession("User@Hotmail.com", "Secret");
  ASSERT_NE(session, nullptr);
  GiveBack(session);
  EXPECT_EQ(pool.NeedSession("user@HOTMAIL.com", "Secret"), session);
  GiveBack(session);
  TBasicWebMailSession *other = pool.NeedSession("user@hotmail.com", "secret");
  EXPECT_NE(other, session);
  EXPECT_EQ(other->GetPassword(), "secret");
  EXPECT_EQ(pool.NeedSession("b@hotmail.com", "Secret") == session, false);
  EXPECT_EQ(pool.Count(), 3);
}

TEST(SessionPool, NewSessionsAreSetUpWithCredentialsLogAndTerminateFlag) {
  bool terminating = false;
  std::vector<std::string> lines;
  TSessionPool pool(FakeFactory());
  pool.SetTerminateFlag(&terminating);
  pool.SetOnLog([&](const std::string &text, uint8_t, bool) { lines.push_back(text); });
  TBasicWebMailSession *session = Borrow(pool, "c@msn.com", "pw");
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->GetUserId(), "c@msn.com");
  EXPECT_EQ(lines, std::vector<std::string>{"logged on c@msn.com"});
  EXPECT_FALSE(session->Terminating());
  terminating = true;
  EXPECT_TRUE(session->Terminating());
}

TEST(SessionPool, UnauthenticatedRequestsUseLiveIdleSessionsThenTheRememberedAccount) {
  TSessionPool pool(FakeFactory());
  // Empty pool, nothing remembered: no session at all.
  EXPECT_EQ(pool.NeedSession("", ""), nullptr);
  EXPECT_EQ(pool.NeedSession("x@hotmail.com", ""), nullptr);
  EXPECT_EQ(pool.Count(), 0);

  TBasicWebMailSession *pop = Borrow(pool, "pop@hotmail.com", "pw");
  ASSERT_NE(pop, nullptr);
  EXPECT_EQ(pool.RememberedUserId(), "pop@hotmail.com");
  EXPECT_EQ(pool.RememberedPassword(), "pw");
  // Still lent to the POP3 connection: a session of its own on the
  // remembered account.
  TBasicWebMailSession *fresh = pool.NeedSession("", "");
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, pop);
  EXPECT_EQ(fresh->GetUserId(), "pop@hotmail.com");
  EXPECT_EQ(fresh->GetPassword(), "pw");
  GiveBack(fresh);
  GiveBack(pop);
  // Both idle now; the one whose service logon is alive comes first.
  EXPECT_EQ(pool.NeedSession("", ""), pop);
  EXPECT_EQ(pool.NeedSession("", ""), fresh);
  EXPECT_EQ(pool.Count(), 2);
}

TEST(SessionPool, ASessionIsLentToOneConnectionFromHandOutUntilGivenBack) {
  TSessionPool pool(FakeFactory());
  TBasicWebMailSession *first = pool.NeedSession("a@hotmail.com", "pw");
  ASSERT_NE(first, nullptr);
  // A second connection for the account asks while the first one's log-on
  // still waits on the service (LoggedOn not yet set).
  TBasicWebMailSession *second = nullptr;
  static_cast<TFakeSession *>(first)->DuringLogon = [&] {
    second = pool.NeedSession("a@hotmail.com", "pw");
  };
  std::string error;
  first->Logon("a@hotmail.com", "pw", error);
  ASSERT_TRUE(error.empty());
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  // Nor may an unauthenticated sender get either of them meanwhile.
  TBasicWebMailSession *sender = pool.NeedSession("", "");
  EXPECT_NE(sender, first);
  EXPECT_NE(sender, second);
  // Given back, a session is lent again.
  GiveBack(first);
  EXPECT_EQ(pool.NeedSession("a@hotmail.com", "pw"), first);
}

TEST(SessionPool, ASessionWhoseLogonFailedIsNotLentToAnUnauthenticatedSender) {
  TSessionPool pool(FakeFactory());
  pool.SetRememberedAccount("good@hotmail.com", "right");
  TBasicWebMailSession *refused = Borrow(pool, "bad@hotmail.com", "wrong");
  ASSERT_NE(refused, nullptr);
  EXPECT_FALSE(refused->LoggedOn());
  GiveBack(refused);
  TBasicWebMailSession *sender = pool.NeedSession("", "");
  ASSERT_NE(sender, nullptr);
  EXPECT_NE(sender, refused);
  EXPECT_EQ(sender->GetUserId(), "good@hotmail.com");
  EXPECT_EQ(sender->GetPassword(), "right");
}

TEST(SessionPool, RejectedLogonIsNotRememberedAndRememberedAccountNeedsBothParts) {
  TSessionPool pool(FakeFactory());
  pool.SetRememberedAccount("only-user@hotmail.com", "");
  EXPECT_EQ(pool.NeedSession("", ""), nullptr);
  TBasicWebMailSession *session = Borrow(pool, "d@hotmail.com", "wrong");
  ASSERT_NE(session, nullptr);
  EXPECT_FALSE(session->LoggedOn());
  EXPECT_EQ(pool.RememberedUserId(), "only-user@hotmail.com");
}

TEST(SessionPool, UserIdWithoutDomainIsNotedInTheDiagnosticLog) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("brelvane-pool-log-" + RandomText(8));
  SetLogFolder(folder.string());
  SetLogEnabled(true);
  SetLogThreshold(10);
  TSessionPool pool(FakeFactory());
  ASSERT_NE(pool.NeedSession("nodomain", "pw"), nullptr);
  const std::string path = CurrentLogPath();
  CloseLogFile();
  const std::string text = ReadFileText(path);
  EXPECT_NE(text.find("nodomain"), std::string::npos) << path;
  EXPECT_NE(text.find("Brelvane"), std::string::npos);
  SetLogFolder("");
  fs::remove_all(folder);
}
