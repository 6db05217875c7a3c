#include <gtest/gtest.h>

#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"

namespace {

std::unique_ptr<TEmailMsg> NewMessage(const std::string &text) {
  auto msg = std::make_unique<TEmailMsg>();
  msg->SetSaveOnDestroy(false);
  msg->SetAddBodyIfMissing(false);
  msg->Text(text);
  msg->Header();
  return msg;
}

std::string Written(TEmailMsg &msg, bool full) {
  std::string text;
  msg.GetRawMailText(text, full);
  return text;
}

const char *const kNested =
    "Subject: nested\r\n"
    "Content-Type: multipart/mixed; boundary=\"B\"\r\n"
    "\r\n"
    "preamble line\r\n"
    "--B\r\n"
    "Content-Type: multipart/alternative; boundary=\"C\"\r\n"
    "\r\n"
    "--C\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "plain text --B inside a line\r\n"
    "--C\r\n"
    "Content-Type: text/html\r\n"
    "\r\n"
    "<p>html</p>\r\n"
    "--C--\r\n"
    "inner epilogue\r\n"
    "--B\r\n"
    "\r\n"
    "a part without header\r\n"
    "--B\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"x.bin\"\r\n"
    "\r\n"
    "AAECAw==\r\n"
    "--B\r\n"
    "Content-Type: image/png\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: inline\r\n"
    "\r\n"
    "iVBORw==\r\n"
    "--B--  \r\n";

}  // namespace

TEST(EmailMsgPart, NestedMultipartWritesBackLineForLine) {
  auto msg = NewMessage(std::string(kNested) + "outer epilogue\r\n");
  EXPECT_EQ(Written(*msg, true), kNested);  // only the message's epilogue goes

  TEmailMsgPartCollection &top = msg->Parts();
  ASSERT_EQ(top.Count(), 5);
  EXPECT_TRUE(top.Items(0)->IsPreamble());
  EXPECT_EQ(top.Items(0)->FGetRawText(), TStringList{"preamble line"});
  EXPECT_EQ(top.Items(0)->BoundaryLine(), "--B");
  TEmailMsgPart *alternative = top.Items(1);
  EXPECT_EQ(alternative->Parts().Count(), 3);
  EXPECT_EQ(alternative->Parts().Items(0)->Header(), alternative->Header());
  EXPECT_EQ(alternative->FGetRawText(), TStringList{"inner epilogue"});
  EXPECT_EQ(alternative->Parts().Items(1)->Level(), 1);
  // The empty line right after the delimiter is the whole header.
  EXPECT_EQ(top.Items(2)->Header()->Count(), 0);
  EXPECT_EQ(top.Items(2)->FGetRawText(), TStringList{"a part without header"});
  EXPECT_EQ(top.Items(4)->BoundaryLine(), "--B--  ");
}

TEST(EmailMsgPart, CollectionMovesPartsWithoutLosingThem) {
  auto msg = NewMessage(kNested);
  TEmailMsgPartCollection &top = msg->Parts();
  TEmailMsgPart *attachment = top.Items(3);
  std::unique_ptr<TEmailMsgPart> detached = top.Detach(attachment);
  ASSERT_EQ(detached.get(), attachment);
  EXPECT_EQ(top.Count(), 4);
  EXPECT_EQ(attachment->OwnerCollection(), nullptr);
  EXPECT_EQ(top.Detach(attachment), nullptr);
  std::unique_ptr<TEmailMsgPart> replaced = top.SetItem(2, std::move(detached));
  EXPECT_EQ(top.Items(2), attachment);
  EXPECT_EQ(attachment->OwnerCollection(), &top);
  ASSERT_NE(replaced, nullptr);
  EXPECT_EQ(top.SetItem(9, std::move(replaced)) != nullptr, true);
  int created = 0;
  top.FOnPartCreated = [&](TEmailMsgPart *) { ++created; };
  top.InsertPart(1, msg->CreateHeader());
  EXPECT_EQ(created, 1);
  EXPECT_EQ(top.Items(top.Count()), nullptr);
}

TEST(EmailMsgPart, ShortFormReplacesAttachmentBodiesByMarkers) {
  auto msg = NewMessage(kNested);
  std::string text = Written(*msg, false);
  EXPECT_NE(text.find(std::string(kEncodedAttachmentMarker) + "\r\n--B\r\n"), std::string::npos);
  EXPECT_NE(text.find(std::string(kInlineAttachmentMarker) + "\r\n--B--"), std::string::npos);
  EXPECT_EQ(text.find("AAECAw=="), std::string::npos);
  EXPECT_EQ(text.find("iVBORw=="), std::string::npos);
  EXPECT_NE(text.find("<p>html</p>"), std::string::npos);
}

TEST(EmailMsgPart, MissingClosingDelimiterIsWrittenAndNoted) {
  auto msg = NewMessage(
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\n"
      "last part\r\nruns to the end\r\n");
  ASSERT_EQ(msg->Parts().Count(), 2);
  TEmailMsgPart *last = msg->Parts().Items(1);
  EXPECT_EQ(last->FGetRawText(), (TStringList{"last part", "runs to the end"}));
  EXPECT_EQ(last->BoundaryLine(), "--B--");
  EXPECT_TRUE(last->Header()->Diagnostics() & hd_DelimiterMissing);
  EXPECT_EQ(
      Written(*msg, true),
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\n"
      "last part\r\nruns to the end\r\n--B--\r\n");
}

TEST(EmailMsgPart, MultipartBodyWithoutAnyDelimiterStaysOneBody) {
  // The inner alternative reuses its parent's boundary, so its own body can
  // hold no delimiter; a closing line invented for it would end the parent.
  std::string text =
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
      "Content-Type: multipart/alternative; boundary=\"B\"\r\n\r\nno parts here\r\n"
      "--B\r\nContent-Type: text/plain\r\n\r\nlast\r\n--B--\r\n";
  auto msg = NewMessage(text);
  ASSERT_EQ(msg->Parts().Count(), 3);
  EXPECT_EQ(Written(*msg, true), text);
  EXPECT_TRUE(msg->Parts().Items(1)->Header()->Diagnostics() & hd_DelimiterMissing);
  EXPECT_FALSE(msg->Parts().Items(2)->Header()->Diagnostics() & hd_DelimiterMissing);
  auto plain = NewMessage("Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\njust text\r\n");
  EXPECT_EQ(Written(*plain, true),
            "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\njust text\r\n");
  ASSERT_EQ(plain->Parts().Count(), 1);
  EXPECT_TRUE(plain->Parts().Items(0)->Header()->Diagnostics() & hd_DelimiterMissing);
}

TEST(EmailMsgPart, HeaderOfAnEncodedMultipartStaysOutsideTheEncoding) {
  std::string text =
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
      "Content-Type: multipart/alternative; charset=\"x\"\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\nsoft=3D text\r\n\r\n--B--\r\n";
  auto msg = NewMessage(text);
  std::string once = Written(*msg, true);
  EXPECT_NE(once.find("Content-Type: multipart/alternative; charset=\"x\"\r\n"), std::string::npos)
      << once;
  EXPECT_NE(once.find("soft=3D text\r\n\r\n--B--"), std::string::npos) << once;
  auto again = NewMessage(once);
  EXPECT_EQ(Written(*again, true), once);
}

TEST(EmailMsgPart, DecodeCacheIsFilledOnceAndDroppedWithTheRawText) {
  auto msg = NewMessage(kNested);
  TEmailMsgPart *attachment = msg->Parts().Items(3);
  EXPECT_FALSE(attachment->HasDecodedCache());
  TStringList lines;
  EXPECT_TRUE(attachment->DecodeToStringList(lines, false));
  EXPECT_TRUE(attachment->HasDecodedCache());
  std::string bytes;
  EXPECT_TRUE(attachment->DecodeToStream(bytes, false));
  EXPECT_EQ(bytes, std::string("\x00\x01\x02\x03", 4));

  msg->SetModified(false);
  attachment->SetRawText({"aGVsbG8="});
  EXPECT_FALSE(attachment->HasDecodedCache());
  EXPECT_TRUE(msg->Modified());
  bytes.clear();
  attachment->DecodeToStream(bytes, false);
  EXPECT_EQ(bytes, "hello");

  // Identity-coded text needs no cache.
  TEmailMsgPart *plain = msg->Parts().Items(1)->Parts().Items(1);
  plain->DecodeToStringList(lines, false);
  EXPECT_EQ(lines, TStringList{"plain text --B inside a line"});
}

TEST(EmailMsgPart, EncodingNewContentKeepsOnlyTheDecodedBytesUntilAsked) {
  auto msg = NewMessage(kNested);
  TEmailMsgPart *attachment = msg->Parts().Items(3);
  std::string payload(100, '\xAB');
  attachment->EncodeFromStream(payload, false);
  EXPECT_TRUE(attachment->HasDecodedCache());
  const TStringList &raw = attachment->FGetRawText();
  ASSERT_EQ(raw.size(), 3u);  // 136 base64 characters in lines of 60
  EXPECT_EQ(raw[0].size(), 60u);
  std::string back;
  attachment->DecodeToStream(back, false);
  EXPECT_EQ(back, payload);

  TEmailMsgPart *plain = msg->Parts().Items(1)->Parts().Items(1);
  plain->EncodeFromStringList({"new text", "second line"}, false);
  EXPECT_EQ(plain->FGetRawText(), (TStringList{"new text", "second line"}));
}

TEST(EmailMsgPart, BodyPartsAreFoundThroughAlternatives) {
  auto msg = NewMessage(kNested);
  TEmailMsgPart *plain = nullptr, *html = nullptr;
  for (int i = 0; i < msg->Parts().Count(); ++i)
    TEmailMsgPart::FindBodyPartsIn(msg->Parts().Items(i), plain, html);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(html, nullptr);
  EXPECT_EQ(plain, msg->Parts().Items(1)->Parts().Items(1));
  EXPECT_EQ(html, msg->Parts().Items(1)->Parts().Items(2));

  auto only = NewMessage(
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
      "Content-Type: application/pdf\r\nContent-Disposition: attachment\r\n\r\nx\r\n--B--\r\n");
  plain = html = nullptr;
  for (int i = 0; i < only->Parts().Count(); ++i)
    TEmailMsgPart::FindBodyPartsIn(only->Parts().Items(i), plain, html);
  EXPECT_EQ(plain, nullptr);
  EXPECT_EQ(html, nullptr);
}

TEST(EmailMsgPart, TextIsCollectedFromPlainAndHtmlParts) {
  auto msg = NewMessage(kNested);
  TStringList lines;
  uint16_t answer = msg->Parts().Items(1)->CollectText(lines, true);
  EXPECT_EQ(answer & 1, 1);
  EXPECT_EQ(answer & 0xFF00, 0x100);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "plain text --B inside a line");
  EXPECT_NE(JoinLines(lines).find("html"), std::string::npos);
  EXPECT_EQ(JoinLines(lines).find("<p>"), std::string::npos);
}

TEST(EmailMsgPart, Base64EmbeddedMessageIsSplitDecodedAndEncodedAgain) {
  std::string inner =
      "Subject: inner\r\nContent-Type: multipart/mixed; boundary=\"I\"\r\n\r\n--I\r\n"
      "Content-Type: text/plain\r\n\r\ninner body\r\n--I--\r\n";
  std::string encoded;
  TStringList encodedLines;
  TBase64Decoder::Instance().Encode(inner, encodedLines);
  auto msg = NewMessage(
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
      "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      JoinLines(encodedLines) + "--B--\r\n");
  // The embedded message's parts sit beside its header part, as a
  // message's top-level parts sit beside its main header.
  TEmailMsgPart *embedded = msg->Parts().Items(1);
  ASSERT_EQ(embedded->Parts().Count(), 2);
  std::string subject;
  embedded->Parts().Items(0)->Header()->GetSubject(subject);
  EXPECT_EQ(subject, "inner");
  EXPECT_TRUE(embedded->Parts().Items(1)->Header()->IsPlainText());
  EXPECT_FALSE(embedded->Parts().Items(1)->Header()->IsEmbeddedMessagePart());

  std::string written = Written(*msg, true);
  EXPECT_NE(written.find(JoinLines(encodedLines)), std::string::npos);
  auto again = NewMessage(written);
  TEmailMsgPart *reread = again->Parts().Items(1);
  ASSERT_EQ(reread->Parts().Count(), 2);
  EXPECT_EQ(reread->Parts().Items(1)->FGetRawText(), TStringList{"inner body"});
}
