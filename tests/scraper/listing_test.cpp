// Listings and rebuilt messages against the stand-in site in the real engine.
#include <QJsonArray>
#include <QJsonObject>
#include <set>

#include "mail/EmailMsg.h"
#include "scraping/MessageAddress.h"
#include "support/ScraperFixture.h"

namespace {

std::string Field(TEmailMsg &message, const std::string &name) {
  std::string value;
  message.Header()->GetField(name, value);
  return value;
}

std::string AddressOf(const TStringList &addresses, const std::string &id) {
  for (const std::string &address : addresses)
    if (MessageIdOf(address) == id) return address;
  return std::string();
}

// Every part of the message tree, depth first.
void CollectParts(TEmailMsgPartCollection &parts, std::vector<TEmailMsgPart *> &out) {
  for (int i = 0; i < parts.Count(); ++i) {
    out.push_back(parts.Items(i));
    CollectParts(parts.Items(i)->Parts(), out);
  }
}

TEmailMsgPart *PartWithLocationOf(TEmailMsg &message, const std::string &fileName) {
  std::vector<TEmailMsgPart *> parts;
  CollectParts(message.Parts(), parts);
  for (TEmailMsgPart *part : parts) {
    std::string name;
    if (part->Header() && part->Header()->GetFileName(name) && name == fileName) return part;
  }
  return nullptr;
}

std::string Text(TEmailMsgPart *part) {
  std::string text;
  if (part) part->DecodeToStream(text, false);
  return text;
}

}  // namespace

class ListingTest : public ScraperTest {
 protected:
  // The inbox read once per test that needs addresses.
  TStringList Inbox(THotmailScraper &scraper) {
    TStringList addresses;
    std::string error;
    scraper.ReadInbox(addresses, error);
    EXPECT_EQ(error, "");
    return addresses;
  }
};

TEST_F(ListingTest, TheInboxIsListedOverAllItsPagesOnce) {
  auto scraper = SignedIn();
  TStringList addresses = Inbox(*scraper);
  const QJsonArray inbox = Folder("inbox");
  ASSERT_EQ(inbox.size(), 13) << "the site account has three listing pages";
  ASSERT_EQ(addresses.size(), 13u);
  std::set<std::string> ids;
  for (const std::string &address : addresses) {
    EXPECT_EQ(address.rfind(Base() + "/cgi-bin/getmsg?", 0), 0u) << address;
    ids.insert(MessageIdOf(address));
  }
  EXPECT_EQ(ids.size(), 13u);
  for (const auto &value : inbox) {
    const QJsonObject message = value.toObject();
    const std::string address = AddressOf(addresses, message["id"].toString().toStdString());
    ASSERT_FALSE(address.empty()) << message["id"].toString().toStdString();
    EXPECT_EQ(IsReadAddress(address), message["read"].toBool()) << address;
    EXPECT_EQ(MessageSizeOf(address), message["size"].toInteger()) << address;
  }
  // On the last page there is no next one, and asking loads nothing.
  const int loads = scraper->NavigationCount();
  EXPECT_FALSE(scraper->NextPage());
  EXPECT_EQ(scraper->NavigationCount(), loads);

  // Reading again adds nothing already listed.
  std::string error;
  scraper->ReadInbox(addresses, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(addresses.size(), 13u);
}

TEST_F(ListingTest, TheJunkFolderIsFoundByTheTokenAndByItsLink) {
  auto scraper = SignedIn();
  TStringList junk;
  std::string error;
  scraper->ReadJunkFolder(junk, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(junk.size(), size_t(Folder("junk").size()));
  ASSERT_FALSE(scraper->JunkUrl.empty());
  EXPECT_NE(scraper->JunkUrl.find(std::string("curmbox=") + kJunkId), std::string::npos);
  for (const std::string &address : junk)
    EXPECT_NE(address.find(kJunkId), std::string::npos) << address;

  // Without the token and the remembered address, by the folder list's link.
  scraper->GoToInbox(error);
  ASSERT_EQ(error, "");
  scraper->FolderToken.clear();
  scraper->JunkUrl.clear();
  scraper->GoToJunkFolder(error);
  EXPECT_EQ(error, "");
  EXPECT_NE(scraper->Browser().LocationUrl().find(kJunkId), std::string::npos);
}

TEST_F(ListingTest, AListingWithoutTheMessageTableIsAnError) {
  ASSERT_TRUE(Standin->SetFault("no_msg_table"));
  auto scraper = SignedIn();
  TStringList addresses;
  std::string error;
  scraper->ReadInbox(addresses, error);
  EXPECT_EQ(error, "Could not find msg table.");
  EXPECT_TRUE(addresses.empty());
}

TEST_F(ListingTest, APlainMessageIsRebuiltWithItsLabelledHeader) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  std::string error;
  auto message = scraper->ReadMessage(AddressOf(addresses, "12-question"), error);
  ASSERT_TRUE(message) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(Field(*message, "From"), "\"Nora Falk\" <nora@example.com>");
  EXPECT_EQ(Field(*message, "To"), "site@hotmail.com");
  EXPECT_EQ(Field(*message, "CC"), "team@example.com");
  EXPECT_EQ(Field(*message, "Subject"), "A question about the report");
  // The zone the page shows is kept.
  EXPECT_EQ(Field(*message, "Date"), "Mon, 7 Dec 2026 14:30:00 +0100");
  TEmailMsgPart *plain = nullptr;
  TEmailMsgPart *html = nullptr;
  message->FindBodyParts(plain, html);
  ASSERT_TRUE(plain);
  ASSERT_TRUE(html);
  const std::string text = Text(plain);
  EXPECT_NE(text.find("Could you send me the figures for page 3?"), std::string::npos) << text;

  EXPECT_NE(Text(html).find("MsgBody"), std::string::npos);
  // Opening the page marked it read on the site.
  EXPECT_TRUE(IsRead("12-question"));

  // The same message again (a mail program's TOP, then RETR) is read again.
  auto again = scraper->ReadMessage(AddressOf(addresses, "12-question"), error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(Field(*again, "Subject"), "A question about the report");
}

TEST_F(ListingTest, PositionalHeaderRowsAreReadAroundTheTime) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  ASSERT_TRUE(Standin->SetFault("positional_headers"));
  std::string error;
  auto message = scraper->ReadMessage(AddressOf(addresses, "12-question"), error);
  ASSERT_TRUE(message) << error;
  EXPECT_EQ(Field(*message, "From"), "\"Nora Falk\" <nora@example.com>");
  EXPECT_EQ(Field(*message, "To"), "site@hotmail.com");
  EXPECT_EQ(Field(*message, "CC"), "team@example.com");
  EXPECT_EQ(Field(*message, "Subject"), "A question about the report");
  EXPECT_NE(Field(*message, "Date").find("14:30:00"), std::string::npos);
}

TEST_F(ListingTest, EightBitTextComesBackAsLatin1) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  std::string error;
  auto message = scraper->ReadMessage(AddressOf(addresses, "04-eight-bit"), error);
  ASSERT_TRUE(message) << error;
  TEmailMsgPart *plain = nullptr;
  TEmailMsgPart *html = nullptr;
  message->FindBodyParts(plain, html);
  const std::string text = Text(plain);
  EXPECT_NE(text.find("sch\xF6ne Gr\xFC\xDF"
                      "e aus K\xF6ln"),
            std::string::npos)
      << text;
  std::string type;
  plain->Header()->GetField("Content-Type", type);
  EXPECT_NE(type.find("iso-8859-1"), std::string::npos) << type;
  EXPECT_EQ(Field(*message, "Subject"),
            "Gr\xFC\xDF"
            "e aus K\xF6ln");
}

TEST_F(ListingTest, AMegabyteAttachmentArrivesByteForByte) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  std::string error;
  auto message = scraper->ReadMessage(AddressOf(addresses, "03-archive"), error);
  ASSERT_TRUE(message) << error;
  TEmailMsgPart *part = PartWithLocationOf(*message, "archive.bin");
  ASSERT_TRUE(part);
  std::string location;
  part->Header()->GetField("Content-Location", location);
  ASSERT_EQ(location.rfind("mimepart=", 0), 0u) << location;
  const std::string expected = PartBytes("03-archive", std::stoi(location.substr(9)));
  ASSERT_EQ(expected.size(), 1048576u);
  std::string bytes;
  part->DecodeToStream(bytes, false);
  EXPECT_TRUE(bytes == expected) << "got " << bytes.size() << " bytes";
  std::string type;
  part->Header()->GetField("Content-Type", type);
  EXPECT_EQ(type, "application/octet-stream; name=\"archive.bin\"");
  std::string encoding;
  part->Header()->GetField("Content-Transfer-Encoding", encoding);
  EXPECT_TRUE(SameText(encoding, "base64"));
  std::string mainType;
  message->Header()->GetMainValue("Content-Type", mainType);
  EXPECT_EQ(mainType, "multipart/mixed");
  // The whole message, written and read again, still holds the same bytes.
  std::string raw;
  ASSERT_TRUE(message->GetRawMailText(raw, true));
  TEmailMsg again;
  again.Text(raw);
  TEmailMsgPart *reread = PartWithLocationOf(again, "archive.bin");
  ASSERT_TRUE(reread);
  std::string rereadBytes;
  reread->DecodeToStream(rereadBytes, false);
  EXPECT_TRUE(rereadBytes == expected);
}

TEST_F(ListingTest, TwoAttachmentsAreEachFetchedOnce) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  Standin->ClearRequests();
  std::string error;
  auto message = scraper->ReadMessage(AddressOf(addresses, "06-minutes"), error);
  ASSERT_TRUE(message) << error;
  TEmailMsgPart *minutes = PartWithLocationOf(*message, "minutes.txt");
  TEmailMsgPart *slides = PartWithLocationOf(*message, "slides.pdf");
  ASSERT_TRUE(minutes);
  ASSERT_TRUE(slides);
  std::string encoding;
  minutes->Header()->GetField("Content-Transfer-Encoding", encoding);
  EXPECT_EQ(encoding, "quoted-printable");
  EXPECT_NE(Text(minutes).find("Budget approved."), std::string::npos);
  std::string pdf;
  slides->DecodeToStream(pdf, false);
  EXPECT_EQ(pdf.rfind("%PDF-1.4", 0), 0u);
  EXPECT_EQ(Standin->RequestsTo("GET", "/cgi-bin/saferd").size(), 2);
}

TEST_F(ListingTest, BodyLinksAndInlinePicturesWorkOutsideTheSite) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  std::string error;
  auto newsletter = scraper->ReadMessage(AddressOf(addresses, "05-newsletter"), error);
  ASSERT_TRUE(newsletter) << error;
  TEmailMsgPart *plain = nullptr;
  TEmailMsgPart *html = nullptr;
  newsletter->FindBodyParts(plain, html);
  const std::string page = Text(html);
  EXPECT_NE(page.find("href=\"mailto:editor@example.com\""), std::string::npos) << page;
  EXPECT_NE(page.find("href=\"http://example.com/week49\""), std::string::npos) << page;
  EXPECT_NE(page.find("href=\"ftp://ftp.example.com/digest/week49.txt\""), std::string::npos);
  EXPECT_EQ(page.find("/cgi-bin/compose"), std::string::npos);

  auto photo = scraper->ReadMessage(AddressOf(addresses, "02-photo"), error);
  ASSERT_TRUE(photo) << error;
  photo->FindBodyParts(plain, html);
  const std::string photoPage = Text(html);

  std::vector<TEmailMsgPart *> parts;
  CollectParts(photo->Parts(), parts);
  std::string location;
  for (TEmailMsgPart *part : parts) {
    std::string type;
    if (part->Header() && part->Header()->GetField("Content-Type", type) &&
        type.rfind("image/", 0) == 0)
      part->Header()->GetField("Content-Location", location);
  }
  ASSERT_EQ(location.rfind("mimepart=", 0), 0u) << location;
  EXPECT_NE(photoPage.find("src=\"" + location + "\""), std::string::npos) << photoPage;
  EXPECT_EQ(photoPage.find("saferd"), std::string::npos);
}

TEST_F(ListingTest, AMessagePageThatDoesNotLoadIsTimedOut) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  ASSERT_TRUE(Standin->SetFault("slow_pages", QJsonObject{{"seconds", 4}}));
  scraper->Timeout = 1500;
  std::string error;
  auto message = scraper->ReadMessage(AddressOf(addresses, "07-lunch"), error);
  EXPECT_FALSE(message);
  EXPECT_EQ(error, "Timed out reading msg.");
}

TEST_F(ListingTest, ContentTypesComeFromThePlatformTable) {
  EXPECT_EQ(ContentTypeOf("notes.txt"), "text/plain");
  EXPECT_EQ(ContentTypeOf("slides.PDF.."), "application/pdf");
  EXPECT_EQ(ContentTypeOf("README"), "application/octet-stream");
  EXPECT_EQ(ContentTypeOf("archive."), "application/octet-stream");
}
