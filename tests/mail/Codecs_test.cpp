// Transfer codecs against published vectors and the rules mail transport
// depends on.
#include <gtest/gtest.h>

#include "foundation/QuorUtil.h"
#include "mail/EmailDecoders.h"

namespace {

std::string DecodeAll(const TMIMEDecoder *decoder, const TStringList &lines, bool *ok = nullptr) {
  std::string stream;
  bool answer = decoder->Decode(lines, stream);
  if (ok) *ok = answer;
  return stream;
}

TStringList EncodeAll(const TMIMEDecoder *decoder, const std::string &bytes) {
  TStringList lines;
  EXPECT_TRUE(decoder->Encode(bytes, lines));
  return lines;
}

const TMIMEDecoder *const kBase64 = &TBase64Decoder::Instance();
const TMIMEDecoder *const kQP = &TQuotedPrintableDecoder::Instance();
const TMIMEDecoder *const kUU = &TUUDecoder::Instance();

TEST(CodecLookup, FindsByNameIgnoringCaseAndKnowsTheIdentityFamily) {
  EXPECT_EQ(FindDecoder("Base64"), kBase64);
  EXPECT_EQ(FindDecoder("QUOTED-PRINTABLE"), kQP);
  EXPECT_EQ(FindDecoder("x-UUencode"), &TXUUDecoder::Instance());
  EXPECT_EQ(FindDecoder("x-gzip"), nullptr);
  EXPECT_EQ(FindDecoder(""), nullptr);
  for (const char *name : {"binary", "7BIT", "8bit"}) {
    ASSERT_NE(FindDecoder(name), nullptr) << name;
    EXPECT_TRUE(IsBinaryDecoder(FindDecoder(name))) << name;
  }
  EXPECT_FALSE(IsBinaryDecoder(kBase64));
  EXPECT_FALSE(IsBinaryDecoder(&TDefaultDecoder::Instance()));
}

// RFC 4648 section 10.
TEST(Base64, Rfc4648Vectors) {
  const std::pair<const char *, const char *> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (auto [plain, encoded] : vectors) {
    EXPECT_EQ(kBase64->EncodeLine(plain), encoded);
    EXPECT_EQ(kBase64->DecodeLine(encoded), plain);
    EXPECT_EQ(DecodeAll(kBase64, {encoded}), plain);
  }
}

TEST(Base64, EncodesInSixtyCharacterLines) {
  TStringList lines = EncodeAll(kBase64, std::string(46, 'x'));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 60u);
  EXPECT_EQ(lines[1], "eA==");
  EXPECT_TRUE(EncodeAll(kBase64, "").empty());
}

TEST(Base64, SkipsForeignCharactersAndDropsIncompleteGroups) {
  EXPECT_EQ(kBase64->DecodeLine("Zm9v YmFy\t"), "foobar");
  // A final group that lost its padding keeps the bytes it holds whole.
  EXPECT_EQ(kBase64->DecodeLine("Zm9vY"), "foo");
  EXPECT_EQ(kBase64->DecodeLine("Zm9vYmE"), "fooba");
  EXPECT_EQ(DecodeAll(kBase64, {"Zm9vYm", ""}), "foob");
  EXPECT_EQ(kBase64->DecodeLine("====Zm8="), "fo");  // a group of padding yields nothing
  // A group split across a line break still decodes: bodies may be wrapped
  // at any width.
  EXPECT_EQ(DecodeAll(kBase64, {"Zm9vY", "mFy"}), "foobar");
  EXPECT_EQ(DecodeAll(kBase64, {"Zg==", "Zm8="}), "ffo");
}

// RFC 2045 section 6.7.
TEST(QuotedPrintable, EncodesByTheTransportRules) {
  EXPECT_EQ(kQP->EncodeLine("a=b"), "a=3Db");
  EXPECT_EQ(kQP->EncodeLine("ends in space "), "ends in space=20");
  EXPECT_EQ(kQP->EncodeLine("tab\there"), "tab=09here");
  EXPECT_EQ(kQP->EncodeLine("caf\xE9\x7F"), "caf=E9=7F");
  EXPECT_EQ(kQP->EncodeLine("one\r\ntwo "), "one\r\ntwo=20");
  std::string letters(100, 'a');
  EXPECT_EQ(kQP->EncodeLine(letters), std::string(72, 'a') + "=\r\n" + std::string(28, 'a'));
}

TEST(QuotedPrintable, EncodedLinesStayShortAndRoundTrip) {
  std::string line;
  for (int i = 0; i < 300; ++i) line += char(i % 3 == 0 ? '=' : 'a' + i % 26);
  TStringList encoded = EncodeAll(kQP, line + "\r\nsecond line\r\n");
  for (const std::string &l : encoded) EXPECT_LE(l.size(), 76u) << l;
  EXPECT_EQ(DecodeAll(kQP, encoded), line + "\r\nsecond line");
}

TEST(QuotedPrintable, LineFillingTheLastColumnIsNotJoinedToTheNext) {
  // A soft break after the last character would glue the two lines together.
  for (size_t width : {72u, 144u, 71u, 73u}) {
    TStringList lines = {std::string(width, 'x'), "next"};
    TStringList copy = lines;
    ASSERT_TRUE(EncodeLinesInPlace(kQP, copy));
    TStringList back;
    ASSERT_TRUE(DecodeLines(kQP, copy, back));
    EXPECT_EQ(back, lines) << width;
  }
}

TEST(QuotedPrintable, DecodesSoftBreaksEscapesAndKeepsMalformedEscapes) {
  EXPECT_EQ(DecodeAll(kQP, {"soft=", "break", "caf=E9=e9"}), "softbreak\r\ncaf\xE9\xE9");
  EXPECT_EQ(DecodeAll(kQP, {"blank after soft break= \t", "x"}), "blank after soft breakx");
  EXPECT_EQ(DecodeAll(kQP, {"=ZZ and =4", "="}), "=ZZ and =4\r\n");
  EXPECT_EQ(DecodeAll(kQP, {"a", "", "b"}), "a\r\n\r\nb");
}

TEST(UUEncode, LineFormatAndErrors) {
  EXPECT_EQ(UUEncodeLine(""), "`");
  EXPECT_EQ(UUEncodeLine("Cat"), "#0V%T");
  // Zero bits are written as a backquote, never as a space.
  EXPECT_EQ(UUEncodeLine(std::string(3, '\0')), "#````");
  EXPECT_EQ(UUEncodeLine(std::string(45, 'a')).size(), 61u);
  try {
    UUEncodeLine(std::string(46, 'a'));
    FAIL() << "no error for 46 bytes";
  } catch (const EDecoderError &e) {
    EXPECT_STREQ(e.what(), "UUEncode: String too long");
  }
  for (const char *bad : {"", " abc", "bXYZ"}) {
    try {
      UUDecodeLine(bad);
      FAIL() << "accepted " << bad;
    } catch (const EDecoderError &e) {
      EXPECT_STREQ(e.what(), "UUDecode: Incorrect string format");
    }
  }
  EXPECT_EQ(UUDecodeLine("#0V%T"), "Cat");
  EXPECT_EQ(UUDecodeLine("\"0V%T"), "Ca");  // length character cuts the result
}

TEST(UUEncode, WholeFileWithFramingAndBadLines) {
  std::string data = "The quick brown fox jumps over the lazy dog, twice over: ";
  data += data;
  TStringList lines = EncodeAll(kUU, data);
  ASSERT_EQ(lines.size(), 3u);  // 45 + 45 + 24 bytes
  TStringList file = {"begin 644 fox.txt"};
  file.insert(file.end(), lines.begin(), lines.end());
  file.insert(file.end(), {"`", "end", "trailing text"});
  bool ok = false;
  EXPECT_EQ(DecodeAll(kUU, file, &ok), data);
  EXPECT_TRUE(ok);
  // A broken line ends the decoding; what came before it is kept.
  std::string out = DecodeAll(kUU, {lines[0], "~broken", lines[1]}, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, data.substr(0, 45));
  // Through EncodeLinesInPlace the size limit never shows as an exception.
  TStringList body = {std::string(500, 'z')};
  EXPECT_TRUE(EncodeLinesInPlace(kUU, body));
}

TEST(IdentityCodecs, KeepLinesAndBytesAsTheyAre) {
  const TMIMEDecoder *bit7 = FindDecoder("7bit");
  EXPECT_EQ(DecodeAll(bit7, {"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(EncodeAll(bit7, "a\r\n\r\nb\r\n"), (TStringList{"a", "", "b"}));
  EXPECT_EQ(bit7->DecodeLine("x"), "x\r\n");
  TStringList lines = {"=3D", "untouched"}, copy = lines, out;
  EXPECT_TRUE(EncodeLinesInPlace(bit7, copy));
  EXPECT_EQ(copy, lines);
  EXPECT_TRUE(DecodeLines(FindDecoder("binary"), lines, out));
  EXPECT_EQ(out, lines);
}

TEST(DefaultCodec, GuessesFromTheContent) {
  auto pick = [](const char *text) { return TDefaultDecoder::PickDecoder(text)->DecoderName(); };
  EXPECT_EQ(pick("plain text\r\n"), "7bit");
  EXPECT_EQ(pick("soft=\r\nbreak\r\n"), "quoted-printable");
  EXPECT_EQ(pick("ruler ==\r\nof equals\r\n"), "7bit");
  EXPECT_EQ(pick("=\r\nat the very start\r\n"), "7bit");
  EXPECT_EQ(pick("begin 644 f\r\n#0V%T\r\nend\r\n"), "uuencode");
  // The quoted-printable sign wins over the uuencode frame.
  EXPECT_EQ(pick("begin 644 f\r\nx=\r\nend\r\n"), "quoted-printable");

  const TMIMEDecoder *guess = FindDecoder("default");
  TStringList decoded;
  EXPECT_TRUE(DecodeLines(guess, {"Caf=E9 au=", " lait"}, decoded));
  EXPECT_EQ(decoded, (TStringList{"Caf\xE9 au lait"}));
  EXPECT_TRUE(DecodeLines(guess, {"begin 644 cat", "#0V%T", "end"}, decoded));
  EXPECT_EQ(decoded, (TStringList{"Cat"}));
  // Encoding in place always comes out as 7bit: the lines are kept.
  TStringList lines = {"a=b", "\xE9"};
  EXPECT_TRUE(EncodeLinesInPlace(guess, lines));
  EXPECT_EQ(lines, (TStringList{"a=b", "\xE9"}));
}

TEST(CodecFrame, StopRequestAndErrorsAnswerFalse) {
  UnregisterProgressCallback();
  ASSERT_TRUE(RegisterProgressCallback([](const std::string &, int64_t, int64_t) { return true; }));
  std::string stream;
  TStringList lines;
  EXPECT_FALSE(kBase64->Decode({"Zm9v"}, stream));
  EXPECT_TRUE(stream.empty());
  UnregisterProgressCallback();
  EXPECT_TRUE(kBase64->Decode({"Zm9v"}, stream));
  EXPECT_EQ(stream, "foo");
  EXPECT_TRUE(kQP->Encode("x", lines));
}

}  // namespace
