// Deleting, marking and sending through the stand-in site in the real engine.
#include <QJsonArray>
#include <QJsonObject>
#include <filesystem>

#include "foundation/QuorUtil.h"
#include "mail/EmailMsg.h"
#include "scraping/MessageAddress.h"
#include "support/ScraperFixture.h"

namespace {

std::string AddressOf(const TStringList &addresses, const std::string &id) {
  for (const std::string &address : addresses)
    if (MessageIdOf(address) == id) return address;
  ADD_FAILURE() << id << " was not listed";
  return std::string();
}

// Every part of the message tree, depth first.
void CollectParts(TEmailMsgPartCollection &parts, std::vector<TEmailMsgPart *> &out) {
  for (int i = 0; i < parts.Count(); ++i) {
    out.push_back(parts.Items(i));
    CollectParts(parts.Items(i)->Parts(), out);
  }
}

std::string PartBytesNamed(TEmailMsg &message, const std::string &fileName) {
  std::vector<TEmailMsgPart *> parts;
  CollectParts(message.Parts(), parts);
  for (TEmailMsgPart *part : parts) {
    std::string name, bytes;
    if (part->Header() && part->Header()->GetFileName(name) && name == fileName) {
      part->DecodeToStream(bytes, false);
      return bytes;
    }
  }
  return "(no part named " + fileName + ")";
}

std::string TypeOf(TEmailMsg &message, const std::string &prefix) {
  std::vector<TEmailMsgPart *> parts;
  CollectParts(message.Parts(), parts);
  for (TEmailMsgPart *part : parts) {
    std::string type;
    if (part->Header() && part->Header()->GetMainValue("Content-Type", type) &&
        type.rfind(prefix, 0) == 0) {
      std::string text;
      part->DecodeToStream(text, false);
      return text;
    }
  }
  return std::string();
}

std::string Base64Lines(const std::string &bytes) {
  static const char *const kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out, line;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t a = (unsigned char)bytes[i];
    const uint32_t b = i + 1 < bytes.size() ? (unsigned char)bytes[i + 1] : 0;
    const uint32_t c = i + 2 < bytes.size() ? (unsigned char)bytes[i + 2] : 0;
    const uint32_t n = (a << 16) | (b << 8) | c;
    line += kDigits[(n >> 18) & 63];
    line += kDigits[(n >> 12) & 63];
    line += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    line += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    if (line.size() >= 76) {
      out += line + "\r\n";
      line.clear();
    }
  }
  if (!line.empty()) out += line + "\r\n";
  return out;
}

}  // namespace

class MailboxTest : public ScraperTest {
 protected:
  void SetUp() override {
    ScraperTest::SetUp();
    // Attachment files wait for their upload in the program folder.
    FHome = std::filesystem::temp_directory_path() / ("brelvane-scraper-" + RandomText(8));
    std::filesystem::create_directories(FHome);
    SetProgramFolder(FHome.string());
  }
  void TearDown() override {
    SetProgramFolder("");
    std::error_code ignored;
    std::filesystem::remove_all(FHome, ignored);
    ScraperTest::TearDown();
  }
  TStringList Inbox(THotmailScraper &scraper) {
    TStringList addresses;
    std::string error;
    scraper.ReadInbox(addresses, error);
    EXPECT_EQ(error, "");
    return addresses;
  }
  // The last message the site sent, as the stand-in recorded it.
  QJsonObject LastSent() {
    const QJsonArray sent = Standin->State()["sent"].toArray();
    return sent.isEmpty() ? QJsonObject() : sent.last().toObject();
  }
  std::unique_ptr<TEmailMsg> Parsed(const QJsonObject &record) {
    auto message = std::make_unique<TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->Text(record["data"].toString().toStdString());
    return message;
  }
  std::filesystem::path FHome;
};

TEST_F(MailboxTest, DeletingReachesEveryListingPage) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  const TStringList doomed = {AddressOf(addresses, "01-welcome"), AddressOf(addresses, "07-lunch"),
                              AddressOf(addresses, "13-thanks")};
  std::string error;
  scraper->DeleteMessages(doomed, error);
  EXPECT_EQ(error, "");
  for (const char *id : {"01-welcome", "07-lunch", "13-thanks"}) {
    EXPECT_FALSE(Holds("inbox", id)) << id;
    EXPECT_TRUE(Holds("deleted", id)) << id;
  }
  EXPECT_EQ(Folder("inbox").size(), 10);
}

TEST_F(MailboxTest, JunkMessagesAreMovedToTheInboxAndThenDeleted) {
  auto scraper = SignedIn();
  TStringList junk;
  std::string error;
  scraper->ReadJunkFolder(junk, error);
  ASSERT_EQ(error, "");
  ASSERT_EQ(junk.size(), 2u);
  const std::string id = MessageIdOf(junk[0]);
  scraper->DeleteMessages({junk[0]}, error);
  EXPECT_EQ(error, "");
  EXPECT_FALSE(Holds("junk", id));
  EXPECT_FALSE(Holds("inbox", id));
  EXPECT_TRUE(Holds("deleted", id));
  EXPECT_TRUE(Holds("junk", MessageIdOf(junk[1])));
}

TEST_F(MailboxTest, AnIdNoListingShowsIsReportedAsNotDeleted) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  std::string error;
  scraper->DeleteMessages({AddressOf(addresses, "09-trip"),
                           Base() + "/cgi-bin/getmsg?curmbox=x&msg=no-such-message&len=10"},
                          error);
  EXPECT_EQ(error, "Failed to delete 1 messages");
  EXPECT_FALSE(Holds("inbox", "09-trip"));
}

TEST_F(MailboxTest, EmptyListsChangeNothing) {
  auto scraper = SignedIn();
  const int loads = scraper->NavigationCount();
  std::string error = "left over";
  scraper->DeleteMessages({}, error);
  EXPECT_EQ(error, "");
  scraper->MarkMessagesUnread({"http://no.id.here/cgi-bin/getmsg?len=3"}, error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(scraper->NavigationCount(), loads);
}

TEST_F(MailboxTest, OpeningMarksReadAndMarkingUnreadReachesEveryPage) {
  auto scraper = SignedIn();
  const TStringList addresses = Inbox(*scraper);
  std::string error;
  ASSERT_FALSE(IsRead("13-thanks"));
  scraper->MarkMessageRead(AddressOf(addresses, "13-thanks"), error);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(IsRead("13-thanks"));
  ASSERT_TRUE(IsRead("01-welcome"));
  ASSERT_TRUE(IsRead("08-invoice"));
  scraper->MarkMessagesUnread(
      {AddressOf(addresses, "01-welcome"), AddressOf(addresses, "08-invoice"),
       AddressOf(addresses, "13-thanks")},
      error);
  EXPECT_EQ(error, "");
  for (const char *id : {"01-welcome", "08-invoice", "13-thanks"}) EXPECT_FALSE(IsRead(id)) << id;
}

TEST_F(MailboxTest, MarkingUnreadWithoutAMessageTableIsAnError) {
  ASSERT_TRUE(Standin->SetFault("no_msg_table"));
  auto scraper = SignedIn();
  std::string error;
  scraper->MarkMessagesUnread({Base() + "/cgi-bin/getmsg?msg=01-welcome&len=3"}, error);
  EXPECT_EQ(error, "Unexpected problem marking msg read: Could not find msg table.");
}

TEST_F(MailboxTest, APlainMessageIsSentWithBlindCopiesFromTheEnvelope) {
  auto scraper = SignedIn();
  TEmailMsg message;
  message.SetSaveOnDestroy(false);
  message.Text(
      "From: site@hotmail.com\r\nTo: Demo <demo@hotmail.com>\r\nSubject: Plain hello\r\n"
      "\r\nLine one\r\nLine two\r\n");
  const int sentBefore = int(Folder("sent").size());
  std::string error;
  scraper->SendMessage(message, {"DEMO@hotmail.com", "hidden@example.com"}, false, error);
  EXPECT_EQ(error, "");
  const QJsonObject record = LastSent();
  ASSERT_EQ(record["via"].toString(), "site");
  EXPECT_FALSE(record["save_in_sent"].toBool());
  QStringList recipients;
  for (const auto &value : record["rcpt_to"].toArray()) recipients << value.toString().toLower();
  recipients.sort();
  EXPECT_EQ(recipients, QStringList({"demo@hotmail.com", "hidden@example.com"}));
  auto sent = Parsed(record);
  std::string subject, to, bcc;
  sent->Header()->GetField("Subject", subject);
  sent->Header()->GetField("To", to);
  EXPECT_EQ(subject, "Plain hello");
  EXPECT_NE(to.find("demo@hotmail.com"), std::string::npos);
  EXPECT_FALSE(sent->Header()->GetField("Bcc", bcc));
  const std::string text = TypeOf(*sent, "text/plain");
  EXPECT_NE(text.find("Line one\r\nLine two"), std::string::npos) << text;
  EXPECT_EQ(int(Folder("sent").size()), sentBefore);

  // A copy only when asked; recipients all in To leave Bcc alone.
  scraper->SendMessage(message, {"demo@hotmail.com"}, true, error);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(LastSent()["save_in_sent"].toBool());
  EXPECT_EQ(LastSent()["rcpt_to"].toArray().size(), 1);
  EXPECT_EQ(int(Folder("sent").size()), sentBefore + 1);
}

TEST_F(MailboxTest, AnHtmlBodyGoesThroughTheRichEditor) {
  auto scraper = SignedIn();
  const std::string source =
      "From: site@hotmail.com\r\nTo: demo@hotmail.com\r\nSubject: Rich\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/alternative; boundary=\"b1\"\r\n\r\n--b1\r\n"
      "Content-Type: text/plain; charset=us-ascii\r\n\r\nHi you (plain)\r\n--b1\r\n"
      "Content-Type: text/html; charset=us-ascii\r\n\r\n"
      "<html><body><p>Hi <b>you</b></p></body></html>\r\n--b1--\r\n";
  TEmailMsg message;
  message.SetSaveOnDestroy(false);
  message.Text(source);
  std::string error;
  scraper->SendMessage(message, {"demo@hotmail.com"}, false, error);
  EXPECT_EQ(error, "");
  auto sent = Parsed(LastSent());
  const std::string html = TypeOf(*sent, "text/html");
  EXPECT_NE(html.find("<B>you</B>"), std::string::npos) << html;

  // An editor that shows the tags as text: the plain body goes instead.
  ASSERT_TRUE(Standin->SetFault("rte_literal"));
  TEmailMsg again;
  again.SetSaveOnDestroy(false);
  again.Text(source);
  scraper->SendMessage(again, {"demo@hotmail.com"}, false, error);
  EXPECT_EQ(error, "");
  const std::string all = LastSent()["data"].toString().toStdString();
  EXPECT_NE(all.find("Hi you (plain)"), std::string::npos) << all;
  EXPECT_EQ(all.find("<b>you</b>"), std::string::npos) << all;
}

TEST_F(MailboxTest, TwoAttachmentsAreUploadedExactlyAndTheirFilesRemoved) {
  auto scraper = SignedIn();
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += char((i * 7919) >> 3);
  const std::string source =
      "From: site@hotmail.com\r\nTo: demo@hotmail.com\r\nSubject: Files\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"m1\"\r\n\r\n--m1\r\n"
      "Content-Type: text/plain; charset=us-ascii\r\n\r\nTwo files.\r\n--m1\r\n"
      "Content-Type: text/plain; name=\"notes.txt\"\r\n"
      "Content-Disposition: attachment; filename=\"notes.txt\"\r\n\r\nfirst note\r\n--m1\r\n"
      "Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"../data.bin\"\r\n\r\n" +
      Base64Lines(binary) + "--m1--\r\n";
  TEmailMsg message;
  message.SetSaveOnDestroy(false);
  message.Text(source);
  std::string error;
  scraper->SendMessage(message, {"demo@hotmail.com"}, false, error);
  EXPECT_EQ(error, "");
  auto sent = Parsed(LastSent());
  EXPECT_EQ(PartBytesNamed(*sent, "notes.txt").rfind("first note", 0), 0u);
  // The message model keeps only a name from "../data.bin".
  EXPECT_TRUE(PartBytesNamed(*sent, "..data.bin") == binary)
      << PartBytesNamed(*sent, "..data.bin").size() << " bytes instead of " << binary.size();
  EXPECT_NE(TypeOf(*sent, "text/plain").find("Two files."), std::string::npos);
  // Nothing is left in the upload folder, and nothing went beside it.
  const std::filesystem::path folder = THotmailScraper::AttachmentFolder();
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_FALSE(std::filesystem::exists(FHome / "data.bin"));
}

TEST_F(MailboxTest, ACompositionPageThatCannotBeReachedIsReported) {
  auto scraper = SignedIn();
  ASSERT_TRUE(Standin->SetFault("site_down"));
  TEmailMsg message;
  message.SetSaveOnDestroy(false);
  message.Text("To: demo@hotmail.com\r\nSubject: x\r\n\r\nx\r\n");
  std::string error;
  scraper->SendMessage(message, {"demo@hotmail.com"}, false, error);
  EXPECT_EQ(error, "Unexpected problem with compose button: No page is shown");
}

TEST_F(MailboxTest, ASendTheSiteHandsBackIsNotCalledSent) {
  auto scraper = SignedIn();
  TEmailMsg message;
  message.SetSaveOnDestroy(false);
  // No recipient anywhere: the site shows its compose form again.
  message.Text("From: site@hotmail.com\r\nSubject: nobody\r\n\r\nx\r\n");
  const int sentBefore = int(Standin->State()["sent"].toArray().size());
  std::string error;
  scraper->SendMessage(message, {}, false, error);
  EXPECT_EQ(error, "Error 1 sending.");
  EXPECT_EQ(int(Standin->State()["sent"].toArray().size()), sentBefore);
}

TEST_F(MailboxTest, EachListingRowTicksOneBoxForOneId) {
  auto scraper = NewScraper();
  TBrowserControl &browser = scraper->Browser();
  browser.Navigate(
      "data:text/html,<table id='MsgTable'>"
      "<tr><td><input type='checkbox' id='head'> msg=idA</td></tr>"
      "<tr><td><input type='checkbox' id='both'> msg=idA msg=idB</td></tr>"
      "<tr><td><input type='text'><input type='checkbox' id='c'> msg=idC</td></tr>"
      "<tr><td><input type='checkbox' id='none'> msg=idZ</td></tr></table>");
  ASSERT_TRUE(scraper->WaitForPage());
  TStringList ids = {"idA", "idB", "idC"};
  ASSERT_TRUE(scraper->SelectListedMessages(ids));
  // The heading row is never read; the row with two ids takes the later
  // one; the other stays for a later row or page.
  EXPECT_EQ(ids, TStringList({"idA"}));
  const TBrowserElements boxes = browser.Collection(browser.Document(), "input");
  const std::vector<std::string> names = browser.Properties(boxes, "id");
  const std::vector<std::string> checked = browser.Properties(boxes, "checked");
  for (size_t i = 0; i < boxes.size(); ++i)
    EXPECT_EQ(checked[i], names[i] == "both" || names[i] == "c" ? "true" : "false") << names[i];
  TStringList none = {"nowhere"};
  EXPECT_FALSE(scraper->SelectListedMessages(none));
  TStringList empty;
  EXPECT_FALSE(scraper->SelectListedMessages(empty));

  browser.Navigate("data:text/html,<table id='Other'><tr><td>x</td></tr></table>");
  ASSERT_TRUE(scraper->WaitForPage());
  try {
    scraper->SelectListedMessages(ids);
    ADD_FAILURE() << "no message table went unnoticed";
  } catch (const EBrowserError &e) {
    EXPECT_STREQ(e.what(), "Could not find msg table.");
  }
}

TEST_F(MailboxTest, AnIdNoListingShowsIsReportedAsNotMarked) {
  auto scraper = SignedIn();
  std::string error;
  scraper->MarkMessagesUnread({Base() + "/cgi-bin/getmsg?msg=no-such-message&len=10"}, error);
  EXPECT_EQ(error, "Failed to mark 1 messages read");
}
