// Message operations of the HTTPMail session against the stand-in.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sessions/HttpMailMsgInfo.h"
#include "shared/TestFiles.h"
#include "support/HttpMailFixture.h"

namespace {

using HttpMailMessages = HttpMailStandinTest;

// The seed file with every line end made CR LF, as the service hands it out.
std::string SeedText(const std::filesystem::path &file) {
  return JoinLines(SplitLines(ReadFileText(file)));
}

QJsonObject FindMessage(const QJsonArray &messages, const QString &id) {
  for (const auto &m : messages)
    if (m.toObject()["id"].toString() == id) return m.toObject();
  return {};
}

TEST_F(HttpMailMessages, InboxListingCarriesWhatTheServiceHolds) {
  auto session = DemoSession();
  TBasicMailMsgInfoList list;
  std::string error;
  session->GetInboxList(list, error);
  ASSERT_EQ(error, "");
  const QJsonArray held = Standin->Messages(kDemoUser, "inbox");
  ASSERT_EQ(list.Count(), held.size());
  for (int i = 0; i < list.Count(); ++i) {
    auto *info = dynamic_cast<THttpMailMsgInfo *>(list.Items(i));
    ASSERT_NE(info, nullptr);
    const QJsonObject m = FindMessage(held, QString::fromStdString(info->Uidl));
    ASSERT_FALSE(m.isEmpty()) << info->Uidl;
    EXPECT_EQ(info->Url, InboxUrl(info->Uidl));
    EXPECT_EQ(info->Size, m["size"].toInt());
    EXPECT_EQ(info->IsRead, m["read"].toBool());
    EXPECT_EQ(QString::fromStdString(info->Subject), m["subject"].toString());
    EXPECT_GT(info->Date, 0);
  }
  const QJsonObject request = Standin->RequestsTo("PROPFIND", "/folders/inbox/")[0].toObject();
  EXPECT_EQ(request["headers"].toObject()["depth"].toString(), "1,noroot");
  EXPECT_TRUE(request["body"].toString().contains("\t\t<m:date/>\r\n\t\t<D:getcontentlength/>"));
}

TEST_F(HttpMailMessages, InboxAndJunkShareOneListWithoutRepeats) {
  auto session = DemoSession();
  TBasicMailMsgInfoList list;
  std::string error;
  session->GetInboxList(list, error);
  ASSERT_EQ(error, "");
  session->GetJunkMailList(list, error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(list.Count(), 5);
  EXPECT_GE(list.IndexOfUidl("01-prize"), 0);
  session->GetJunkMailList(list, error);
  session->GetInboxList(list, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(list.Count(), 5);
}

TEST_F(HttpMailMessages, EmptyFolderIsNotAnError) {
  auto session = DemoSession();
  TBasicMailMsgInfoList list;
  std::string error = "stale";
  session->ListMessages(session->MsgFolderRootUrl + "drafts/", list, error, 5);
  EXPECT_EQ(error, "");
  EXPECT_EQ(list.Count(), 0);

  // With no junk folder at all the listing says which folder it missed.
  ASSERT_TRUE(Standin->SetFault("override_props", {{"values", QJsonObject{{"hm:special", ""}}}}));
  session->GetJunkMailList(list, error);
  EXPECT_EQ(error, "Failed to find bulkmail directory");
}

TEST_F(HttpMailMessages, UnknownInboxOrBrokenFolderListingAreReported) {
  auto session = NewSession();
  TBasicMailMsgInfoList list;
  std::string error;
  session->GetInboxList(list, error);
  EXPECT_EQ(error, "Url of Inbox unknown");

  session = DemoSession();
  ASSERT_TRUE(Standin->SetFault("status", {{"code", 404}, {"paths", QJsonArray{"/folders/$"}}}));
  session->GetJunkMailList(list, error);
  EXPECT_EQ(error, "Directory listing failed with: Bad Response: \"HTTP/1.1 404 Not Found\"");
  EXPECT_EQ(CountLogged("Failed to get directory listing 4 with:"), 4);
}

TEST_F(HttpMailMessages, MissingPropertiesTakeTheirDefaults) {
  auto session = DemoSession();
  ASSERT_TRUE(Standin->SetFault("omit_props", {{"props", QJsonArray{"m:subject", "hm:read"}}}));
  ASSERT_TRUE(Standin->SetFault("override_props",
                                {{"values", QJsonObject{{"m:date", "2026-12-07T09:15:00.5Z"}}}}));
  TBasicMailMsgInfoList list;
  std::string error;
  session->GetInboxList(list, error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(list.Count(), 4);
  TDateTime day = 0;
  ASSERT_TRUE(TryEncodeDate(2026, 12, 7, day));
  for (int i = 0; i < list.Count(); ++i) {
    auto *info = static_cast<THttpMailMsgInfo *>(list.Items(i));
    EXPECT_EQ(info->Subject, "");
    EXPECT_TRUE(info->IsRead);
    EXPECT_EQ(info->Date, day);
  }
}

TEST_F(HttpMailMessages, UnreadableSizeIsAnErrorTextAndAddsNothing) {
  auto session = DemoSession();
  for (const char *size : {"abc", ""}) {
    ASSERT_TRUE(Standin->SetFault("override_props",
                                  {{"values", QJsonObject{{"D:getcontentlength", size}}}}));
    TBasicMailMsgInfoList list;
    list.Add(std::make_unique<THttpMailMsgInfo>());
    std::string error;
    session->GetInboxList(list, error);
    EXPECT_EQ(error.rfind("Could not parse server output. Bad message size", 0), 0u) << error;
    EXPECT_EQ(list.Count(), 1);
  }
}

TEST_F(HttpMailMessages, GetMsgReturnsTheMessageByteForByte) {
  auto session = DemoSession();
  const auto inbox = Standin->AccountsFolder() / kDemoUser / "inbox";
  for (const char *id : {"01-welcome", "02-report", "03-eight-bit", "04-newsletter"}) {
    TStringList lines{"left over"};
    std::string error;
    session->GetMsg(InboxUrl(id), lines, error, 5);
    ASSERT_EQ(error, "") << id;
    EXPECT_EQ(JoinLines(lines), SeedText(inbox / (std::string(id) + ".eml"))) << id;
  }
  const QJsonObject request = Standin->RequestsTo("GET", "/inbox/01-welcome")[0].toObject();
  const QJsonObject headers = request["headers"].toObject();
  EXPECT_EQ(headers["translate"].toString(), "f");
  EXPECT_EQ(headers["accept"].toString(), "message/rfc822, */*");
  EXPECT_EQ(headers["content-length"].toString(), "0");
}

TEST_F(HttpMailMessages, GetMsgFailuresAreRetriedThenReported) {
  auto session = DemoSession();
  TStringList lines;
  std::string error;
  ASSERT_TRUE(Standin->SetFault("empty_message"));
  session->GetMsg(InboxUrl("01-welcome"), lines, error, 5);
  EXPECT_EQ(error, "Empty message text");
  EXPECT_EQ(CountLogged("Failed to get email with:Empty message text. Retrying..."), 4);
  EXPECT_EQ(Standin->RequestsTo("GET", "/inbox/").size(), 5);

  ASSERT_TRUE(Standin->ClearFaults());
  ASSERT_TRUE(Standin->SetFault("drop_mid_body", {{"count", 2}}));
  session->GetMsg(InboxUrl("02-report"), lines, error, 5);
  EXPECT_EQ(error, "");
  EXPECT_EQ(CountLogged("Failed to get email with:Request failed with:Connection dropped while "
                        "reading body. Retrying..."),
            2);

  session->GetMsg(InboxUrl("no-such"), lines, error, 2);
  EXPECT_EQ(error, "Bad Response: \"HTTP/1.1 404 Not Found\"");
  EXPECT_TRUE(lines.empty());

  ASSERT_TRUE(Standin->SetFault("redirect"));
  session->GetMsg(InboxUrl("01-welcome"), lines, error, 1);
  EXPECT_EQ(error, "Request failed with:Retry count exceeded 15");

  session->GetMsg(InboxUrl("01-welcome"), lines, error, 0);
  EXPECT_EQ(error, "Retries exceeded");
}

TEST_F(HttpMailMessages, AStopBetweenTriesEndsTheRetries) {
  auto session = DemoSession();
  bool terminate = false;
  session->SetTerminateFlag(&terminate);
  session->SetOnLog([&](const std::string &text, uint8_t, bool) {
    if (text.find("Retrying...") != std::string::npos) terminate = true;
  });
  ASSERT_TRUE(Standin->SetFault("empty_message"));
  TStringList lines;
  std::string error;
  session->GetMsg(InboxUrl("01-welcome"), lines, error, 5);
  EXPECT_EQ(error, "Asked to terminate nicely");
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(Standin->RequestsTo("GET", "/inbox/").size(), 1);

  // The last try's failure is kept: no retry line and no stop check after it.
  terminate = false;
  session->GetMsg(InboxUrl("01-welcome"), lines, error, 1);
  EXPECT_EQ(error, "Empty message text");
  EXPECT_FALSE(terminate);
}

TEST_F(HttpMailMessages, MarkMsgReadCountsOnlyAn200) {
  auto session = DemoSession();
  std::string error;
  session->MarkMsgRead(InboxUrl("02-report"), 5, error);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(FindMessage(Standin->Messages(kDemoUser, "inbox"), "02-report")["read"].toBool());
  const QJsonObject request = Standin->RequestsTo("PROPPATCH", "/02-report")[0].toObject();
  EXPECT_TRUE(request["body"].toString().contains("<hm:read>1</hm:read>"));

  ASSERT_TRUE(Standin->SetFault(
      "status", {{"code", 207}, {"reason", "Multi-Status"}, {"methods", QJsonArray{"PROPPATCH"}}}));
  session->MarkMsgRead(InboxUrl("03-eight-bit"), 3, error);
  EXPECT_EQ(error, "Bad Response: \"HTTP/1.1 207 Multi-Status\"");
  EXPECT_EQ(CountLogged("Failed to mark email read with:Bad Response: \"HTTP/1.1 207 "
                        "Multi-Status\". Retrying..."),
            2);
  EXPECT_FALSE(FindMessage(Standin->Messages(kDemoUser, "inbox"), "03-eight-bit")["read"].toBool());
}

TEST_F(HttpMailMessages, DeleteMovesToTheDeletedItems) {
  auto session = DemoSession();
  std::string error;
  session->DeleteMsgs({InboxUrl("01-welcome"), InboxUrl("04-newsletter")}, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Standin->Messages(kDemoUser, "inbox").size(), 2);
  const QJsonArray deleted = Standin->Messages(kDemoUser, "deleted");
  EXPECT_FALSE(FindMessage(deleted, "01-welcome").isEmpty());
  EXPECT_FALSE(FindMessage(deleted, "04-newsletter").isEmpty());
  const QJsonObject move = Standin->RequestsTo("MOVE", "/01-welcome")[0].toObject();
  EXPECT_EQ(move["headers"].toObject()["destination"].toString().toStdString(),
            session->DeletedItemsUrl + "01-welcome");
  EXPECT_EQ(move["headers"].toObject()["allow-rename"].toString(), "t");

  // A message that cannot be moved no longer hides behind the others.
  Standin->ClearRequests();
  session->DeleteMsgs({InboxUrl("gone"), InboxUrl("02-report"), InboxUrl("")}, error);
  EXPECT_EQ(error.rfind("Failed to delete 2 of 3 messages: Bad Response: \"HTTP/1.1 404", 0), 0u)
      << error;
  EXPECT_FALSE(FindMessage(Standin->Messages(kDemoUser, "deleted"), "02-report").isEmpty());
  EXPECT_EQ(Standin->RequestsTo("MOVE", "").size(), 5 + 1);  // 5 tries for "gone", none for ""

  session->MoveMessage(InboxUrl(""), session->DeletedItemsUrl, error, 5);
  EXPECT_EQ(error, "Asked to delete msg with bad url");

  session->DeletedItemsUrl.clear();
  Standin->ClearRequests();
  session->DeleteMsgs({InboxUrl("03-eight-bit")}, error);
  EXPECT_EQ(error, "Failed to delete 1 of 1 messages: Url of Trash unknown");
  EXPECT_EQ(Standin->RequestsTo("MOVE", "").size(), 0);
}

TEST_F(HttpMailMessages, MoveAnsweredOtherThan201IsRetried) {
  auto session = DemoSession();
  ASSERT_TRUE(
      Standin->SetFault("status", {{"code", 200}, {"count", 1}, {"methods", QJsonArray{"MOVE"}}}));
  std::string error;
  session->MoveMessage(InboxUrl("02-report"), session->MsgFolderRootUrl + "junk/", error, 5);
  EXPECT_EQ(error, "");
  EXPECT_EQ(CountLogged("Failed to move email with:Bad Response: \"HTTP/1.1 200 OK\". Retrying..."),
            1);
  EXPECT_FALSE(FindMessage(Standin->Messages(kDemoUser, "junk"), "02-report").isEmpty());
}

TEST_F(HttpMailMessages, SendPostsTheEnvelopeAndTheTextUnchanged) {
  auto session = DemoSession();
  const TStringList text{"From: demo@hotmail.com",
                         "To: tester@msn.com",
                         "Subject: hello",
                         "",
                         "first line",
                         ".",
                         "",
                         "last line"};
  std::string error;
  session->SendMsg("demo@hotmail.com", false, error, 3, text, {"tester@msn.com", "", "x@y.org"},
                   true);
  ASSERT_EQ(error, "");
  const QJsonArray sent = Standin->State()["sent"].toArray();
  ASSERT_EQ(sent.size(), 1);
  const QJsonObject one = sent[0].toObject();
  EXPECT_EQ(one["mail_from"].toString(), "demo@hotmail.com");
  EXPECT_EQ(one["rcpt_to"].toArray(), (QJsonArray{"tester@msn.com", "x@y.org"}));
  EXPECT_TRUE(one["save_in_sent"].toBool());
  EXPECT_EQ(one["data"].toString().toStdString(), JoinLines(text));
  const QJsonObject post = Standin->RequestsTo("POST", "/sendmsg")[0].toObject();
  EXPECT_EQ(post["body"].toString().toStdString(),
            "MAIL FROM:demo@hotmail.com\r\nRCPT TO:tester@msn.com\r\nRCPT TO:x@y.org\r\n\r\n" +
                JoinLines(text));
  EXPECT_EQ(post["headers"].toObject()["content-type"].toString(), "message/rfc821");
  EXPECT_EQ(post["headers"].toObject()["translate"].toString(), "f");
  EXPECT_EQ(Standin->Messages(kDemoUser, "sent").size(), 2);
  EXPECT_EQ(Standin->Messages("tester@msn.com", "inbox").size(), 2);
}

TEST_F(HttpMailMessages, SendChecksAndLimits) {
  auto session = DemoSession();
  std::string error;
  const TStringList text{"Subject: x", "", "body"};
  session->SendMsg("", false, error, 3, text, {"a@b"}, false);
  EXPECT_EQ(error, "No MailFrom address given");
  session->SendMsg("me@x", false, error, 3, text, {}, false);
  EXPECT_EQ(error, "No target addresses given");
  session->SendMsg("me@x", false, error, 3, {}, {"a@b"}, false);
  EXPECT_EQ(error, "Message text was empty");
  EXPECT_EQ(Standin->RequestsTo("POST", "/sendmsg").size(), 0);

  ASSERT_TRUE(Standin->SetFault("send_limit"));
  session->SendMsg("me@x", false, error, 3, text, {"a@b"}, false);
  EXPECT_EQ(error, "Sending limits imposed by mail server have been exceeded.");
  EXPECT_EQ(Standin->RequestsTo("POST", "/sendmsg").size(), 1);

  ASSERT_TRUE(Standin->ClearFaults());
  ASSERT_TRUE(
      Standin->SetFault("status", {{"code", 500}, {"count", 2}, {"methods", QJsonArray{"POST"}}}));
  session->SendMsg("me@x", false, error, 3, text, {"a@b"}, false);
  EXPECT_EQ(error, "");
  EXPECT_EQ(CountLogged("Failed to send email with:Bad Response: \"HTTP/1.1 500 Internal Server "
                        "Error\". Retrying..."),
            2);
  EXPECT_EQ(Standin->State()["sent"].toArray().size(), 1);
}

TEST_F(HttpMailMessages, SlowAndOddlyFramedAnswersStillArrive) {
  auto session = DemoSession();
  ASSERT_TRUE(Standin->SetFault("continue"));
  ASSERT_TRUE(Standin->SetFault("no_content_length", {{"hold_seconds", 0.3}}));
  ASSERT_TRUE(Standin->SetFault("delay", {{"seconds", 0.3}, {"where", "body"}}));
  TBasicMailMsgInfoList list;
  std::string error;
  session->GetInboxList(list, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(list.Count(), 4);
  TStringList lines;
  session->GetMsg(InboxUrl("01-welcome"), lines, error, 5);
  EXPECT_EQ(error, "");
  EXPECT_EQ(JoinLines(lines),
            SeedText(Standin->AccountsFolder() / kDemoUser / "inbox" / "01-welcome.eml"));
}

}  // namespace
