// The 207 readers on answers the stand-in never writes: other letter case,
// odd spacing, unclosed elements, entities, nesting.
#include <gtest/gtest.h>

#include "sessions/HttpMailMsgInfo.h"
#include "sessions/MultistatusReader.h"

namespace {

TEST(MultistatusReader, ResponsesAreFoundInAnyCaseAndUnclosedOnesIgnored) {
  const TStringList body{
      "<?xml version=\"1.0\"?><d:multistatus xmlns:d=\"DAV:\">",
      "<d:Response><D:HREF>http://h/a/1</D:HREF><D:href>second</D:href></d:Response>",
      "<D:response><D:href>http://h/a/2</D:href>", "</D:response><D:response><D:href>http://h/a/3"};
  const auto responses = ReadResponses(body, {"D:href", "hm:read"});
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_EQ(responses[0][0], "http://h/a/1");  // the first element of a name counts
  EXPECT_FALSE(responses[0][1].has_value());
  EXPECT_EQ(responses[1][0], "http://h/a/2");
}

TEST(MultistatusReader, ValuesStayUntrimmedAndEntitiesAreDecoded) {
  const TStringList body{
      "<D:response><D:href> http://h/f/?a=1&amp;b=2 </D:href><hm:special>inbox </hm:special>",
      "<D:isfolder>0</D:isfolder><D:hassubs>1</D:hassubs><hm:unreadcount>x</hm:unreadcount>",
      "<D:visiblecount>12</D:visiblecount></D:response>",
      "<D:response><D:href>u</D:href><D:isfolder>no</D:isfolder><D:hassubs>true</D:hassubs>",
      "</D:response>"};
  THttpMailDirectoryList list;
  ASSERT_TRUE(ReadFolderListing(body, list));
  ASSERT_EQ(list.Count(), 2);
  const THttpMailDirectory *first = list.Items(0);
  EXPECT_EQ(first->Href, " http://h/f/?a=1&b=2 ");
  EXPECT_EQ(first->Special, "inbox ");
  EXPECT_FALSE(first->IsFolder);
  EXPECT_TRUE(first->HasSubs);
  EXPECT_EQ(first->UnreadCount, 0);
  EXPECT_EQ(first->VisibleCount, 12);
  // Only the exact texts "0" and "1" change the defaults.
  EXPECT_TRUE(list.Items(1)->IsFolder);
  EXPECT_FALSE(list.Items(1)->HasSubs);
  // An untrimmed special name is not the inbox for the session...
  EXPECT_EQ(list.FindSpecial("inbox"), nullptr);
  EXPECT_FALSE(ReadFolderListing({"<D:multistatus></D:multistatus>"}, list));
}

TEST(MultistatusReader, LogonFoldersComeFromTheFirstElementAnywhere) {
  const TStringList body{
      "<D:multistatus><D:response><D:propstat><D:prop>",
      "<hm:inbox>http://h/inbox/</hm:inbox><HM:SENDMSG>http://h/send</HM:SENDMSG>",
      "<hm:msgfolderroot>http://h/</hm:msgfolderroot><hm:inbox>http://h/other/</hm:inbox>",
      "<hm:deleteditems/></D:prop></D:propstat></D:response></D:multistatus>"};
  const TLogonFolders folders = ReadLogonFolders(body);
  EXPECT_EQ(folders.Inbox, "http://h/inbox/");
  EXPECT_EQ(folders.SendMsg, "http://h/send");
  EXPECT_EQ(folders.MsgFolderRoot, "http://h/");
  EXPECT_EQ(folders.DeletedItems, "");
}

TEST(MultistatusReader, MessageListingDropsRepeatsAndKeepsAllOrNothing) {
  const TStringList body{
      "<D:response><D:href>http://h/inbox/m1</D:href><hm:read>0</hm:read>",
      "<m:from>A &lt;a@x&gt;</m:from><m:date>2003-02-04T09:05:07</m:date>",
      "<D:getcontentlength>120</D:getcontentlength></D:response>",
      "<D:response><D:href>http://h/inbox/m1</D:href><D:getcontentlength>5</D:getcontentlength>",
      "</D:response>",
      "<D:response><D:href>http://h/inbox/m2</D:href><D:getcontentlength> 7 </D:getcontentlength>",
      "</D:response>"};
  TBasicMailMsgInfoList list;
  std::string problem;
  ASSERT_EQ(ReadMessageListing(body, list, problem), TListingResult::Ok);
  ASSERT_EQ(list.Count(), 2);
  auto *first = static_cast<THttpMailMsgInfo *>(list.Items(0));
  EXPECT_EQ(first->Uidl, "m1");
  EXPECT_FALSE(first->IsRead);
  EXPECT_EQ(first->Size, 120);
  EXPECT_EQ(first->From, "A <a@x>");
  TDateTime day = 0, time = 0;
  ASSERT_TRUE(TryEncodeDate(2003, 2, 4, day));
  ASSERT_TRUE(TryEncodeTime(9, 5, 7, 0, time));
  EXPECT_DOUBLE_EQ(first->Date, ComposeDateTime(day, time));
  EXPECT_EQ(list.Items(1)->Size, 7);

  // One entry without a usable size spoils the whole answer.
  TStringList bad = body;
  bad.push_back("<D:response><D:href>http://h/inbox/m3</D:href></D:response>");
  TBasicMailMsgInfoList other;
  EXPECT_EQ(ReadMessageListing(bad, other, problem), TListingResult::BadSize);
  EXPECT_EQ(other.Count(), 0);
  EXPECT_NE(problem.find("http://h/inbox/m3"), std::string::npos);
}

TEST(MultistatusReader, EmptyAnswerAndMissingHrefAreReadAsTheyStand) {
  TBasicMailMsgInfoList list;
  std::string problem;
  EXPECT_EQ(ReadMessageListing({"<D:multistatus/>"}, list, problem), TListingResult::Ok);
  // A response without href is listed with an empty UIDL rather than lost.
  const TStringList noHref{"<D:response><D:getcontentlength>1</D:getcontentlength></D:response>"};
  EXPECT_EQ(ReadMessageListing(noHref, list, problem), TListingResult::Ok);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Items(0)->Uidl, "");
  EXPECT_EQ(LastUrlSegment("http://h/a/b"), "b");
  EXPECT_EQ(LastUrlSegment("http://h/a/"), "");
  EXPECT_EQ(LastUrlSegment("plain"), "plain");
}

}  // namespace
