// The scrape session's own rules, against a scraper without a browser:
// retries, what goes back to unread at log-off, how listings become records.
#include <gtest/gtest.h>

#include "sessions/WebmailScrapeSession.h"
#include "support/FakeScraper.h"

namespace {

struct TLine {
  std::string Text;
  uint8_t Detail;
  bool Error;
};

class ScrapeSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    Session = std::make_unique<TWebmailScrapeSession>([this]() -> std::unique_ptr<TSiteScraper> {
      auto scraper = std::make_unique<TFakeScraper>();
      Site = scraper.get();
      return scraper;
    });
    Session->SetOnLog([this](const std::string &text, uint8_t detail, bool error) {
      Lines.push_back({text, detail, error});
    });
    Session->SetOnLoggedOn([this](const std::string &user, const std::string &password) {
      LoggedOn.push_back(user + "/" + password);
    });
  }

  void LogOn() {
    std::string error;
    Session->Logon("jdoe@hotmail.com", "pw", error);
    ASSERT_EQ(error, "");
  }

  int Logged(const std::string &text) const {
    int count = 0;
    for (const TLine &line : Lines) count += line.Text == text;
    return count;
  }

  std::unique_ptr<TWebmailScrapeSession> Session;
  TFakeScraper *Site = nullptr;
  std::vector<TLine> Lines;
  std::vector<std::string> LoggedOn;
};

TEST_F(ScrapeSessionTest, TheScraperIsHiddenAndCarriesTheSessionsFlagsAndLog) {
  ASSERT_EQ(Session->Scraper(), Site);
  EXPECT_FALSE(Site->AllowFocus());
  bool terminate = false, cancel = false;
  Session->SetTerminateFlag(&terminate);
  Session->SetCancelFlag(&cancel);
  EXPECT_EQ(Site->TerminateFlag(), &terminate);
  EXPECT_EQ(Site->CancelFlag(), &cancel);
  // Scraper complaints reach the session's log.
  Site->LoginErrors = {"Failed to connect to hotmail"};
  Session->SetMaxLogonAttempts(1);
  std::string error;
  Session->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "Failed to connect to hotmail");
  EXPECT_FALSE(Session->LoggedOn());
  ASSERT_FALSE(Lines.empty());
  EXPECT_EQ(Lines[0].Text, "Failed to connect to hotmail");
  EXPECT_EQ(Lines[0].Detail, 7);
}

TEST_F(ScrapeSessionTest, RejectedPasswordIsTriedOnceOtherFailuresUpToTheLimit) {
  std::string error;
  Session->Logon("jdoe@hotmail.com", "wrong", error);
  EXPECT_EQ(error, "401 - Userid or password rejected.");
  EXPECT_EQ(Site->LoginCalls, 1);
  EXPECT_TRUE(LoggedOn.empty());

  Site->LoginCalls = 0;
  Session->SetMaxLogonAttempts(3);
  Site->LoginErrors = {"503 Invalid address or password.", "503 Invalid address or password.",
                       "503 Invalid address or password.", "never reached"};
  Session->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "503 Invalid address or password.");
  EXPECT_EQ(Site->LoginCalls, 3);
  EXPECT_EQ(Logged("503 Invalid address or password.. Retrying..."), 2);
  EXPECT_FALSE(Session->LoggedOn());

  // A temporary failure followed by success: logged on, told once.
  Site->LoginCalls = 0;
  Site->LoginErrors = {"Timed out waiting for login response from hotmail"};
  Session->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Site->LoginCalls, 2);
  EXPECT_TRUE(Session->LoggedOn());
  EXPECT_EQ(LoggedOn, std::vector<std::string>{"jdoe@hotmail.com/pw"});
}

TEST_F(ScrapeSessionTest, SameCredentialsWithALiveSiteSessionLoadNoLogonPage) {
  LogOn();
  EXPECT_EQ(Site->LoginCalls, 1);
  Session->Logoff();
  LogOn();
  EXPECT_EQ(Site->LoginCalls, 1);
  EXPECT_EQ(Logged("Already logged in"), 1);
  EXPECT_EQ(LoggedOn.size(), 2u);
  for (const TLine &line : Lines)
    if (line.Text == "Already logged in") {
      EXPECT_EQ(line.Detail, 8);
    }

  // The site ended its session: a real log-on again.
  Session->Logoff();
  Site->SiteSessionValid = false;
  LogOn();
  EXPECT_EQ(Site->LoginCalls, 2);
  // Another password is never taken for the same log-on.
  Session->Logoff();
  std::string error;
  Session->Logon("jdoe@hotmail.com", "other", error);
  EXPECT_EQ(error, "401 - Userid or password rejected.");
  EXPECT_EQ(Site->LoginCalls, 3);
}

TEST_F(ScrapeSessionTest, LogonWithoutCredentialsUsesTheAccountTheSessionHolds) {
  std::string error;
  Session->Logon("", "", error);
  EXPECT_EQ(error, "No user name or password given");
  EXPECT_EQ(Site->LoginCalls, 0);
  EXPECT_FALSE(Session->LoggedOn());
  EXPECT_TRUE(LoggedOn.empty());

  Session->SetUserId("jdoe@hotmail.com");
  Session->SetPassword("pw");
  Session->Logon("", "", error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Site->LoginCalls, 1);
  EXPECT_EQ(LoggedOn, std::vector<std::string>{"jdoe@hotmail.com/pw"});
}

TEST_F(ScrapeSessionTest, AFailedLogonKeepsTheAccountForThePoolToMatch) {
  Session->SetMaxLogonAttempts(1);
  Site->LoginErrors = {"Failed to connect to hotmail"};
  std::string error;
  Session->Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_NE(error, "");
  EXPECT_EQ(Site->UserName(), "");
  EXPECT_EQ(Session->GetUserId(), "jdoe@hotmail.com");
  EXPECT_EQ(Session->GetPassword(), "pw");
  EXPECT_EQ(Session->GetServiceName(), "Hotmail");
}

TEST_F(ScrapeSessionTest, ListingsBecomeRecordsWithoutRepeatedIds) {
  Site->Inbox = {TFakeScraper::Address("M1", 1200, false), TFakeScraper::Address("M2", 300, true),
                 TFakeScraper::Address("M1", 1200, false)};
  Site->Junk = {TFakeScraper::Address("M2", 300, false), TFakeScraper::Address("J1", 50, false)};
  LogOn();
  TBasicMailMsgInfoList list;
  std::string error;
  Session->GetInboxList(list, error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0)->Url, Site->Inbox[0]);
  EXPECT_EQ(list.Items(0)->Uidl, "M1");
  EXPECT_EQ(list.Items(0)->Size, 1200);
  EXPECT_FALSE(list.Items(0)->IsRead);
  EXPECT_TRUE(list.Items(1)->IsRead);

  Session->GetJunkMailList(list, error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(1)->Url, Site->Inbox[1]);  // the inbox record stays
  EXPECT_EQ(list.Items(2)->Uidl, "J1");
}

TEST_F(ScrapeSessionTest, AListingThatFailsPartWayAddsNothing) {
  Site->Inbox = {TFakeScraper::Address("M1", 10, false)};
  Site->Junk = {TFakeScraper::Address("J1", 10, false)};
  Site->ListError = "Unexpected problem reading inbox: gone";
  LogOn();
  TBasicMailMsgInfoList list;
  std::string error;
  Session->GetInboxList(list, error);
  EXPECT_EQ(error, "Unexpected problem reading inbox: gone");
  Session->GetJunkMailList(list, error);
  EXPECT_EQ(error, "Unexpected problem reading inbox: gone");
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(ScrapeSessionTest, FetchRetriesFollowTheTryCount) {
  LogOn();
  const std::string address = TFakeScraper::Address("M1", 10, true);
  TStringList lines;
  std::string error;
  Site->ReadErrors = {"Timed out reading msg.", "Timed out reading msg.", "Timed out reading msg."};
  Session->GetMsg(address, lines, error, 0);
  EXPECT_EQ(error, "Timed out reading msg.");
  EXPECT_EQ(Site->ReadCalls, 2);
  Site->ReadCalls = 0;
  Session->GetMsg(address, lines, error, -1);
  EXPECT_EQ(Site->ReadCalls, 1);

  // A good fetch gives the message text, line by line.
  Site->ReadCalls = 0;
  Site->ReadErrors = {"Timed out reading msg."};
  Session->GetMsg(address, lines, error, 5);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Site->ReadCalls, 2);
  EXPECT_EQ(lines,
            (TStringList{"From: someone@example.com", "Subject: message M1", "", "body of M1"}));

  // As one text, the same lines with CR LF, after the same tries.
  Site->ReadCalls = 0;
  Site->ReadErrors = {"Timed out reading msg.", "Timed out reading msg."};
  std::string text = "left over";
  Session->GetMsgText(address, text, error, 1);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Site->ReadCalls, 3);
  EXPECT_EQ(text, "From: someone@example.com\r\nSubject: message M1\r\n\r\nbody of M1\r\n");
  Site->ReadCalls = 0;
  Site->ReadErrors = {"Timed out reading msg.", "Timed out reading msg."};
  Session->GetMsgText(address, text, error, 0);
  EXPECT_EQ(error, "Timed out reading msg.");
  EXPECT_EQ(Site->ReadCalls, 2);
  EXPECT_EQ(text, "");
}

TEST_F(ScrapeSessionTest, AStopDuringAFetchEndsItWithoutRetrying) {
  bool terminate = false;
  Session->SetTerminateFlag(&terminate);
  LogOn();
  Site->RaiseTerminateOnRead = &terminate;
  Site->ReadErrors = {"Timed out reading msg.", "Timed out reading msg."};
  TStringList lines;
  std::string error;
  Session->GetMsg(TFakeScraper::Address("M1", 10, false), lines, error, 5);
  EXPECT_EQ(error, "Terminated");
  EXPECT_EQ(Site->ReadCalls, 1);
}

TEST_F(ScrapeSessionTest, MessagesOpenedOnlyToFetchThemGoBackToUnreadAtLogoff) {
  const std::string unread1 = TFakeScraper::Address("U1", 10, false);
  const std::string unread2 = TFakeScraper::Address("U2", 10, false);
  const std::string unread3 = TFakeScraper::Address("U3", 10, false);
  const std::string wasRead = TFakeScraper::Address("R1", 10, true);
  LogOn();
  TStringList lines;
  std::string error;
  for (const std::string &a : {unread1, unread2, unread3, wasRead, unread1})
    Session->GetMsg(a, lines, error, 5);
  EXPECT_EQ(Session->OpenedUnread(), (TStringList{unread1, unread2, unread3}));

  // Marked read by the mail program's wish: no page, and it stays read.
  Session->MarkMsgRead(unread2, 5, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Site->MarkReadCalls, 0);
  // Deleted: nothing to put back.
  Session->DeleteMsgs({unread3}, error);
  EXPECT_EQ(error, "");

  Session->Logoff();
  EXPECT_FALSE(Session->LoggedOn());
  ASSERT_EQ(Site->UnreadCalls.size(), 1u);
  EXPECT_EQ(Site->UnreadCalls[0], TStringList{unread1});
  EXPECT_FALSE(Site->ReadOnSite["U1"]);
  EXPECT_TRUE(Site->ReadOnSite["U2"]);
  EXPECT_TRUE(Site->ReadOnSite["R1"]);

  // A second log-off has nothing left to restore, and a new log-on starts
  // with an empty list.
  Session->Logoff();
  EXPECT_EQ(Site->UnreadCalls.size(), 1u);
  Session->GetMsg(unread2, lines, error, 5);
  LogOn();
  EXPECT_TRUE(Session->OpenedUnread().empty());
}

TEST_F(ScrapeSessionTest, AFailedDeleteKeepsTheFetchedMessagesForRestoring) {
  const std::string unread = TFakeScraper::Address("U1", 10, false);
  LogOn();
  TStringList lines;
  std::string error;
  Session->GetMsg(unread, lines, error, 5);
  Site->DeleteError = "Failed to delete 1 messages";
  Session->DeleteMsgs({unread}, error);
  EXPECT_EQ(error, "Failed to delete 1 messages");
  EXPECT_EQ(Session->OpenedUnread(), TStringList{unread});
}

TEST_F(ScrapeSessionTest, MarkingReadOpensThePageWithRetries) {
  LogOn();
  const std::string address = TFakeScraper::Address("M9", 10, false);
  std::string error;
  Site->MarkReadErrors = {"Unexpected problem marking msg read: x",
                          "Unexpected problem marking msg read: x"};
  Session->MarkMsgRead(address, 5, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Site->MarkReadCalls, 3);
  EXPECT_TRUE(Site->ReadOnSite["M9"]);

  Site->MarkReadCalls = 0;
  Site->MarkReadErrors = {"e1", "e2", "e3"};
  Session->MarkMsgRead(address, 0, error);
  EXPECT_EQ(error, "e2");
  EXPECT_EQ(Site->MarkReadCalls, 2);
}

TEST_F(ScrapeSessionTest, SendingHandsTheParsedMessageAndEnvelopeToTheSite) {
  LogOn();
  const TStringList message = {"From: jdoe@hotmail.com", "To: a@example.com",
                               "Subject: =?ISO-8859-1?Q?caf=E9?=", "", "hello"};
  const TStringList recipients = {"a@example.com", "hidden@example.com"};
  std::string error;
  Site->SendErrors = {"Could not find compose button"};
  Session->SendMsg("jdoe@hotmail.com", false, error, 3, message, recipients, true);
  EXPECT_EQ(error, "");
  ASSERT_EQ(Site->Sent.size(), 1u);
  EXPECT_EQ(Site->Sent[0].To, "a@example.com");
  EXPECT_EQ(Site->Sent[0].Subject, "=?ISO-8859-1?Q?caf=E9?=");
  EXPECT_EQ(Site->Sent[0].Recipients, recipients);
  EXPECT_TRUE(Site->Sent[0].SaveCopy);

  // A try count of N allows N + 2 sends in all, as every retried
  // operation here counts down to -1.
  Site->SendErrors = {"e1", "e2", "e3", "e4", "e5", "e6"};
  Session->SendMsg("jdoe@hotmail.com", false, error, 3, message, recipients, false);
  EXPECT_EQ(error, "e5");
  EXPECT_EQ(Site->SendErrors.size(), 1u);
  EXPECT_EQ(Site->Sent.size(), 1u);

  // Send was pressed but not confirmed: the site may hold the message
  // already, so it is not submitted again.
  Site->SendErrors = {"Error 1 sending.", "e2"};
  Session->SendMsg("jdoe@hotmail.com", false, error, 3, message, recipients, false);
  EXPECT_EQ(error, "Error 1 sending.");
  EXPECT_EQ(Site->SendErrors.size(), 1u);
}

TEST(ScrapeSessionWithoutBrowser, EveryOperationSaysWhy) {
  const TScraperFactory saved = GetScraperFactory();
  SetScraperFactory(nullptr);
  TWebmailScrapeSession session;
  SetScraperFactory(saved);
  EXPECT_EQ(session.Scraper(), nullptr);
  std::string error;
  session.Logon("jdoe@hotmail.com", "pw", error);
  EXPECT_EQ(error, TWebmailScrapeSession::kNoBrowserError);
  EXPECT_FALSE(session.LoggedOn());
  EXPECT_FALSE(session.CheckLoggedOn());
  TBasicMailMsgInfoList list;
  session.GetInboxList(list, error);
  EXPECT_EQ(error, TWebmailScrapeSession::kNoBrowserError);
  TStringList lines;
  session.GetMsg("x", lines, error, 5);
  EXPECT_EQ(error, TWebmailScrapeSession::kNoBrowserError);
  session.SendMsg("a@b", false, error, 3, {"Subject: x", "", "y"}, {"c@d"}, false);
  EXPECT_EQ(error, TWebmailScrapeSession::kNoBrowserError);
  session.Logoff();
}

TEST(ScrapeSessionFactory, NewSessionsTakeTheInstalledScraper) {
  const TScraperFactory saved = GetScraperFactory();
  int made = 0;
  SetScraperFactory([&made]() -> std::unique_ptr<TSiteScraper> {
    ++made;
    return std::make_unique<TFakeScraper>();
  });
  {
    TWebmailScrapeSession session;
    EXPECT_NE(session.Scraper(), nullptr);
  }
  SetScraperFactory(saved);
  EXPECT_EQ(made, 1);
}

}  // namespace
