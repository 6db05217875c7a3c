#include <gtest/gtest.h>

#include <sstream>

#include "mail/EmailMsg.h"
#include "mail/LineBlock.h"

namespace {

TEST(LineBlock, RangesAndFrontErasureKeepEveryLineIntact) {
  const TStringList lines{"first", "", "third line", "", "x"};
  TLineBlock block(lines);
  EXPECT_EQ(block.Count(), 5u);
  EXPECT_EQ(block.ToList(), lines);
  EXPECT_EQ(block.Join(), "first\r\n\r\nthird line\r\n\r\nx\r\n");

  TLineBlock middle;
  middle.Add("kept");
  middle.AddRange(block, 1, 4);
  EXPECT_EQ(middle.ToList(), (TStringList{"kept", "", "third line", ""}));
  middle.AddRange(block, 4, 99);  // clipped to the end
  middle.AddRange(block, 3, 3);   // nothing
  EXPECT_EQ(middle.Back(), "x");

  block.EraseFront(2);
  EXPECT_EQ(block.ToList(), (TStringList{"third line", "", "x"}));
  block.Add("y");
  EXPECT_EQ(block[3], "y");
  block.EraseFront(10);
  EXPECT_TRUE(block.Empty());
  EXPECT_EQ(block.Join(), "");
}

std::unique_ptr<TEmailMsg> Loaded(const std::string &text) {
  auto msg = std::make_unique<TEmailMsg>();
  msg->SetSaveOnDestroy(false);
  msg->SetAddBodyIfMissing(false);
  std::istringstream in(text);
  msg->LoadFromStream(in);
  return msg;
}

// The text as loaded (before parsing) and as rebuilt from the part tree,
// as lines and as one text, must all agree.
void ExpectRoundTrip(const std::string &text, const std::string &expected) {
  SCOPED_TRACE(text);
  auto msg = Loaded(text);
  std::string unparsed;
  msg->GetRawMailText(unparsed, true);
  EXPECT_EQ(unparsed, expected);
  msg->Header();
  std::string parsed;
  msg->GetRawMailText(parsed, true);
  EXPECT_EQ(parsed, expected);
  TStringList lines;
  msg->GetRawMail(lines, true);
  EXPECT_EQ(JoinLines(lines), expected);
  EXPECT_EQ(msg->Size(), int(expected.size()) - 2);
}

TEST(MessageRoundTrip, LineEndsAndBodiesOfEveryShapeComeBackUnchanged) {
  // No final line end: the last line is kept, and written with one.
  ExpectRoundTrip("Subject: a\r\n\r\nlast", "Subject: a\r\n\r\nlast\r\n");
  // Bare LF ends a line like CR LF; a bare CR inside a line is a byte of it.
  ExpectRoundTrip("Subject: b\n\nbody\nmid\rdle\r\n", "Subject: b\r\n\r\nbody\r\nmid\rdle\r\n");
  // Empty body.
  ExpectRoundTrip("Subject: c\r\n\r\n", "Subject: c\r\n\r\n");
  // Empty lines at the end of a body are body lines.
  ExpectRoundTrip("Subject: e\r\n\r\nx\r\n\r\n\r\n", "Subject: e\r\n\r\nx\r\n\r\n\r\n");
  // A lone CR after the last line end is one more empty line.
  ExpectRoundTrip("Subject: f\r\n\r\nx\r\n\r", "Subject: f\r\n\r\nx\r\n\r\n");
}

TEST(MessageRoundTrip, NestedMultipartsWithPreamblesAndEpiloguesComeBackUnchanged) {
  const std::string text =
      "Subject: nested\r\nContent-Type: multipart/mixed; boundary=\"out\"\r\n\r\n"
      "outer preamble\r\n--out\r\n"
      "Content-Type: multipart/alternative; boundary=\"in\"\r\n\r\n"
      "inner preamble\r\n--in\r\nContent-Type: text/plain\r\n\r\nplain\r\n\r\n"
      "--in\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n--in--\r\ninner epilogue\r\n"
      "--out\r\nContent-Type: application/octet-stream\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQF\r\nBgc=\r\n"
      "--out--\r\n";
  ExpectRoundTrip(text, text);
  auto msg = Loaded(text);
  TEmailMsgPartCollection &parts = msg->Parts();
  ASSERT_EQ(parts.Count(), 3);
  TEmailMsgPart *alternative = parts.Items(1);
  ASSERT_EQ(alternative->Parts().Count(), 3);
  EXPECT_EQ(alternative->Parts().Items(1)->FGetRawText(), (TStringList{"plain", ""}));
  EXPECT_EQ(alternative->FGetRawText(), TStringList{"inner epilogue"});
  EXPECT_EQ(parts.Items(2)->FGetRawText(), (TStringList{"AAECAwQF", "Bgc="}));
  EXPECT_EQ(parts.Items(2)->FGetRawText(), (TStringList{"AAECAwQF", "Bgc="}));
  EXPECT_EQ(parts.Items(2)->Parts().Count(), 0);
}

TEST(MessageRoundTrip, AnEnvelopeLineLaterInTheTextIsBodyText) {
  auto msg = Loaded(
      "X-SMTP: a@example.com,b@example.org\r\nSubject: x\r\n\r\n"
      "X-SMTP: not@envelope\r\n");
  EXPECT_EQ(msg->Envelope(), (TStringList{"a@example.com", "b@example.org"}));
  std::string text;
  msg->GetRawMailText(text, true);
  EXPECT_EQ(text, "Subject: x\r\n\r\nX-SMTP: not@envelope\r\n");
}

}  // namespace
