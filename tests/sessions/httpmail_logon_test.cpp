// Logon and folder discovery of the HTTPMail session against the stand-in.
#include <gtest/gtest.h>

#include "support/HttpMailFixture.h"

namespace {

const QString kHotmailPath = "/svcs/hotmail/httpmail.asp";
const QString kMsnPath = "/cgi-bin/hmdata";

using HttpMailLogon = HttpMailStandinTest;

TEST_F(HttpMailLogon, HotmailAccountUsesItsEndpointAndLearnsTheFolders) {
  auto session = NewSession();
  std::string error = "stale";
  std::vector<std::string> loggedOn;
  session->SetOnLoggedOn([&](const std::string &user, const std::string &password) {
    loggedOn = {user, password};
  });
  session->Logon(kDemoUser, kDemoPassword, error);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(session->LoggedOn());
  EXPECT_TRUE(session->LastLogonOk);
  EXPECT_EQ(loggedOn, (std::vector<std::string>{kDemoUser, kDemoPassword}));
  const std::string base = Standin->Base() + kHotmailPath.toStdString();
  EXPECT_EQ(session->MsgFolderRootUrl, base + "/folders/");
  EXPECT_EQ(session->InboxUrl, base + "/folders/inbox/");
  EXPECT_EQ(session->DeletedItemsUrl, base + "/folders/deleted/");
  EXPECT_EQ(session->SendMsgUrl, base + "/sendmsg");

  // The first PROPFIND is refused for want of credentials; the repeat that
  // answers the challenge is the one that counts.
  const QJsonArray logons = Standin->RequestsTo("PROPFIND", kHotmailPath);
  ASSERT_EQ(logons.size(), 2);
  EXPECT_EQ(logons[0].toObject()["status"].toInt(), 401);
  const QJsonObject proven = logons[1].toObject();
  EXPECT_EQ(proven["status"].toInt(), 207);
  EXPECT_EQ(proven["path"].toString(), kHotmailPath);
  const QJsonObject headers = proven["headers"].toObject();
  EXPECT_EQ(headers["depth"].toString(), "0");
  EXPECT_EQ(headers["brief"].toString(), "t");
  EXPECT_EQ(headers["host"].toString(), "127.0.0.1");
  EXPECT_TRUE(
      headers["authorization"].toString().startsWith("Digest username=\"demo@hotmail.com\""));
  const QString body = proven["body"].toString();
  EXPECT_TRUE(body.startsWith("<?xml version=\"1.0\"?>\r\n<D:propfind xmlns:D=\"DAV:\" xmlns:h="));
  EXPECT_TRUE(
      body.contains("\t\t<hm:msgfolderroot/>\r\n\t\t<h:sig/>\r\n\t</D:prop>\r\n</D:propfind>"));
  EXPECT_EQ(headers["content-length"].toString().toInt(), body.size());
}

TEST_F(HttpMailLogon, MsnInAnyCaseUsesTheMsnEndpoint) {
  ASSERT_TRUE(Standin->Order(
      {{"add_account", QJsonObject{{"name", "Caps@MSN.com"}, {"password", "caps-pass"}}}}));
  auto session = NewSession();
  std::string error;
  session->Logon("Caps@MSN.com", "caps-pass", error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(session->GetServiceName(), "MSN");
  EXPECT_EQ(Standin->RequestsTo("PROPFIND", kHotmailPath).size(), 0);
  EXPECT_EQ(Standin->RequestsTo("PROPFIND", kMsnPath).size(), 2);
  EXPECT_EQ(session->InboxUrl, Standin->Base() + "/cgi-bin/hmdata/folders/inbox/");
}

TEST_F(HttpMailLogon, SameCredentialsOnlyCheckTheFolderListing) {
  auto session = DemoSession();
  std::string error;
  session->Logon(kDemoUser, kDemoPassword, error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(CountLogged("Already logged in"), 1);
  EXPECT_EQ(Logged[0].Detail, 8);
  EXPECT_FALSE(Logged[0].Error);
  const QJsonArray requests = Standin->Requests();
  int httpmail = 0;
  for (const auto &r : requests) {
    if (r.toObject()["path"].toString() == "/_control") continue;
    ++httpmail;
    EXPECT_TRUE(r.toObject()["path"].toString().endsWith("/folders/"));
  }
  EXPECT_EQ(httpmail, 1);

  // Empty credentials mean "the stored account" and take the same road.
  session->Logon("", "", error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(CountLogged("Already logged in"), 2);
}

TEST_F(HttpMailLogon, OtherCredentialsStartWithoutCookiesOrDigestState) {
  auto session = DemoSession();
  ASSERT_GT(session->Cookies->Count(), 0);
  std::string error;
  session->Logon("tester@msn.com", "msn-pass", error);
  EXPECT_EQ(error, "");
  const QJsonArray requests = Standin->RequestsTo("PROPFIND", kMsnPath);
  ASSERT_FALSE(requests.empty());
  const QJsonObject first = requests[0].toObject()["headers"].toObject();
  EXPECT_FALSE(first.contains("cookie")) << first["cookie"].toString().toStdString();
  EXPECT_FALSE(first.contains("authorization"));
  EXPECT_EQ(requests.last().toObject()["account"].toString(), "tester@msn.com");
  EXPECT_EQ(session->GetUserId(), "tester@msn.com");
}

TEST_F(HttpMailLogon, RefusalsEndTheLogonAtOnceWithTheirClass) {
  {
    auto session = NewSession();
    std::string error;
    session->Logon(kDemoUser, "wrong", error);
    EXPECT_EQ(error, "401 - Hotmail rejected password: 1001 The password is not correct");
    EXPECT_FALSE(session->LoggedOn());
    EXPECT_FALSE(session->LastLogonOk);
    // The exchange's own challenge repeat, and no logon retry after it.
    EXPECT_EQ(Standin->RequestsTo("PROPFIND", kHotmailPath).size(), 2);
  }
  {
    ASSERT_TRUE(Standin->Order(
        {{"add_account", QJsonObject{{"name", "payer@hotmail.com"},
                                     {"password", "p"},
                                     {"flags", QJsonObject{{"payment_required", true}}}}}}));
    auto session = NewSession();
    std::string error;
    session->Logon("payer@hotmail.com", "p", error);
    EXPECT_EQ(error, "402 - Hotmail requested payment: Payment Required");
  }
  {
    auto session = NewSession();
    std::string error;
    session->Logon("nobody@msn.com", "x", error);
    EXPECT_EQ(error, "503 - MSN rejected Userid: 2000 No such user id");
  }
  {
    ASSERT_TRUE(Standin->SetFault("service_down"));
    Standin->ClearRequests();
    auto session = NewSession();
    std::string error;
    session->Logon(kDemoUser, kDemoPassword, error);
    EXPECT_EQ(error.substr(0, 3), "503");
    EXPECT_NE(error.find("1000"), std::string::npos);
    EXPECT_EQ(Standin->RequestsTo("PROPFIND", kHotmailPath).size(), 1);
  }
}

TEST_F(HttpMailLogon, RefusedCredentialsAreNotReportedButTemporaryFailuresAre) {
  std::vector<std::string> reported;
  auto watch = [&](THttpMailSession &session) {
    session.SetOnLoggedOn(
        [&](const std::string &user, const std::string &) { reported.push_back(user); });
  };
  {
    auto session = NewSession();
    watch(*session);
    std::string error;
    session->Logon(kDemoUser, "wrong", error);
    EXPECT_EQ(error.substr(0, 3), "401");
  }
  {
    auto session = NewSession();
    watch(*session);
    std::string error;
    session->Logon("nobody@msn.com", "x", error);
    EXPECT_EQ(error.substr(0, 3), "503");
  }
  EXPECT_TRUE(reported.empty());
  {
    // The service being down says nothing against the credentials.
    ASSERT_TRUE(Standin->SetFault("service_down"));
    auto session = NewSession();
    watch(*session);
    std::string error;
    session->Logon(kDemoUser, kDemoPassword, error);
    EXPECT_NE(error.find("1000"), std::string::npos);
  }
  EXPECT_EQ(reported, (std::vector<std::string>{kDemoUser}));
}

TEST_F(HttpMailLogon, AnswerWithoutSendUrlIsRetriedThenAccepted) {
  ASSERT_TRUE(Standin->SetFault("omit_props", {{"props", QJsonArray{"hm:sendmsg"}}}));
  auto session = NewSession();
  session->SetMaxLogonAttempts(3);
  std::string error;
  session->Logon(kDemoUser, kDemoPassword, error);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(session->LoggedOn());
  EXPECT_EQ(session->SendMsgUrl, "");
  EXPECT_FALSE(session->InboxUrl.empty());
  EXPECT_EQ(CountLogged("Logon answer lacked a folder URL"), 3);
  int proven = 0;
  for (const auto &r : Standin->RequestsTo("PROPFIND", kHotmailPath))
    proven += r.toObject()["status"].toInt() == 207;
  EXPECT_EQ(proven, 3);

  session->SendMsg("demo@hotmail.com", false, error, 3, {"Subject: x", "", "y"}, {"tester@msn.com"},
                   false);
  EXPECT_EQ(error, "Outbox url is unknown.");
}

TEST_F(HttpMailLogon, AnswerThatNamesNoFolderIsAFailure) {
  ASSERT_TRUE(Standin->SetFault("no_responses"));
  auto session = NewSession();
  session->SetMaxLogonAttempts(2);
  std::string error;
  session->Logon(kDemoUser, kDemoPassword, error);
  EXPECT_EQ(error, "Could not parse server output.");
  EXPECT_FALSE(session->LoggedOn());
}

TEST_F(HttpMailLogon, TransportFailuresAreRetriedAndReported) {
  {
    ASSERT_TRUE(Standin->SetFault("redirect"));
    auto session = NewSession();
    session->SetMaxLogonAttempts(2);
    std::string error;
    session->Logon(kDemoUser, kDemoPassword, error);
    EXPECT_EQ(error, "Retry count exceeded 15");
    EXPECT_EQ(CountLogged("Login request failed with:Retry count exceeded 15"), 2);
    EXPECT_EQ(Standin->RequestsTo("PROPFIND", kHotmailPath).size(), 2 * 16);
    ASSERT_TRUE(Standin->ClearFaults());
  }
  {
    // A 302 with a count runs out and the logon goes on to succeed.
    ASSERT_TRUE(Standin->SetFault("redirect", {{"count", 3}}));
    auto session = NewSession();
    std::string error;
    session->Logon(kDemoUser, kDemoPassword, error);
    EXPECT_EQ(error, "");
  }
  {
    ASSERT_TRUE(Standin->SetFault("status", {{"code", 500}, {"count", 1}}));
    Logged.clear();
    auto session = NewSession();
    std::string error;
    session->Logon(kDemoUser, kDemoPassword, error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(CountLogged("Unknown Response: \"HTTP/1.1 500 Internal Server Error\""), 1);
    EXPECT_EQ(Logged[0].Detail, 5);
    EXPECT_TRUE(Logged[0].Error);
  }
}

TEST_F(HttpMailLogon, UnreachableServiceIsExplained) {
  // A port that was free a moment ago: nobody listens there now.
  TStandinProcess gone;
  ASSERT_TRUE(gone.Started());
  const std::string base = gone.Base();
  gone.Kill();
  SetServiceBaseOverride(base);
  auto session = NewSession();
  session->SetMaxLogonAttempts(1);
  std::string error;
  session->Logon(kDemoUser, kDemoPassword, error);
  EXPECT_EQ(error, "Failed to connect to Hotmail.");
  EXPECT_FALSE(session->LoggedOn());
}

TEST_F(HttpMailLogon, StopFlagsEndOperationsBeforeAnyRequest) {
  auto session = DemoSession();
  bool terminate = true;
  session->SetTerminateFlag(&terminate);
  EXPECT_EQ(session->GetTerminateFlag(), &terminate);
  std::string error;
  session->LastLogonOk = false;
  session->Logon(kDemoUser, kDemoPassword, error);
  EXPECT_EQ(error, "Asked to terminate nicely");
  TStringList lines;
  session->GetMsg(InboxUrl("01-welcome"), lines, error, 5);
  EXPECT_EQ(error, "Asked to terminate nicely");
  TBasicMailMsgInfoList list;
  session->GetInboxList(list, error);
  EXPECT_EQ(error, "Asked to terminate nicely");
  terminate = false;
  bool cancel = true;
  session->SetCancelFlag(&cancel);
  session->MarkMsgRead(InboxUrl("01-welcome"), 5, error);
  EXPECT_EQ(error, "Asked to terminate nicely");
  EXPECT_EQ(Standin->RequestsTo("", "/svcs/").size(), 0);
}

TEST_F(HttpMailLogon, FolderListingReadsEveryFolderAndRetriesAnEmptyAnswer) {
  auto session = DemoSession();
  THttpMailDirectoryList folders;
  std::string error;
  session->ListFolders(folders, 5, error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(folders.Count(), 6);
  const THttpMailDirectory *junk = folders.FindSpecial("BULKMAIL");
  ASSERT_NE(junk, nullptr);
  EXPECT_TRUE(junk->IsFolder);
  EXPECT_EQ(junk->VisibleCount, 1);
  const THttpMailDirectory *inbox = folders.FindSpecial("inbox");
  ASSERT_NE(inbox, nullptr);
  EXPECT_EQ(inbox->VisibleCount, 4);
  EXPECT_EQ(inbox->UnreadCount, 3);
  EXPECT_EQ(inbox->Href, session->InboxUrl);

  ASSERT_TRUE(
      Standin->SetFault("no_responses", {{"count", 2}, {"paths", QJsonArray{"/folders/$"}}}));
  session->ListFolders(folders, 5, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(folders.Count(), 6);
  EXPECT_EQ(
      CountLogged(
          "Failed to get directory listing 5 with:Could not parse server output.. Retrying..."),
      2);

  ASSERT_TRUE(Standin->SetFault("no_responses", {{"paths", QJsonArray{"/folders/$"}}}));
  session->ListFolders(folders, 3, error);
  EXPECT_EQ(error, "Could not parse server output.");
  EXPECT_FALSE(session->CheckLoggedOn());
  ASSERT_TRUE(Standin->ClearFaults());
  EXPECT_TRUE(session->CheckLoggedOn());
}

}  // namespace
