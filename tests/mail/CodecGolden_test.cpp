// Codecs over real message bodies and over data of awkward sizes.
//
// tests/data/codecs/<codec>/<case>.in holds a body as it stands in a message
// and <case>.expected the bytes another mail library decodes from it
// (make_golden.py beside them). Adding a pair adds a case. On a mismatch the
// actual output is written to golden-actual/<codec>/<case>.actual in the
// working folder (the build tree when run by ctest).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "mail/EmailDecoders.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<fs::path> Cases(const char *codec) {
  std::vector<fs::path> inputs;
  fs::path folder = fs::path(BRELVANE_TEST_DATA) / "codecs" / codec;
  for (const auto &entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".in") inputs.push_back(entry.path());
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

void CompareWithGolden(const fs::path &input, const std::string &actual,
                       const std::string &expected) {
  if (actual == expected) return;
  // Beside the test's working folder (the build tree under ctest), never
  // into the source tree.
  fs::path out = fs::current_path() / "golden-actual" / input.parent_path().filename();
  fs::create_directories(out);
  out /= input.filename();
  out.replace_extension(".actual");
  std::ofstream(out, std::ios::binary) << actual;
  ADD_FAILURE() << input.filename() << ": decoded bytes differ; see " << out;
}

// Re-wraps a base64 text at Width characters per line, ignoring its breaks.
TStringList Rewrap(const std::string &text, size_t width) {
  std::string flat;
  for (char c : text)
    if (c != '\r' && c != '\n') flat += c;
  TStringList lines;
  for (size_t at = 0; at < flat.size(); at += width) lines.push_back(flat.substr(at, width));
  return lines;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char &c : bytes) c = char(rng());
  return bytes;
}

TEST(CodecGolden, Base64BodiesAtEveryLineChunking) {
  auto cases = Cases("base64");
  ASSERT_FALSE(cases.empty());
  for (const fs::path &input : cases) {
    std::string text = ReadFile(input);
    std::string expected = ReadFile(fs::path(input).replace_extension(".expected"));
    std::string decoded;
    ASSERT_TRUE(TBase64Decoder::Instance().Decode(SplitLines(text), decoded));
    CompareWithGolden(input, decoded, expected);
    for (size_t width : {4096u, 1024u, 77u, 16u, 3u, 1u}) {
      std::string chunked;
      ASSERT_TRUE(TBase64Decoder::Instance().Decode(Rewrap(text, width), chunked));
      EXPECT_EQ(chunked, expected) << input.filename() << " at width " << width;
    }
  }
}

TEST(CodecGolden, QuotedPrintableBodies) {
  auto cases = Cases("quoted-printable");
  ASSERT_FALSE(cases.empty());
  for (const fs::path &input : cases) {
    std::string text = ReadFile(input);
    std::string expected = ReadFile(fs::path(input).replace_extension(".expected"));
    // The files use bare LF; on the wire every line ends in CR LF.
    TStringList lines = SplitLines(text);
    if (!text.empty() && text.back() == '\n') lines.push_back("");
    std::string decoded;
    ASSERT_TRUE(TQuotedPrintableDecoder::Instance().Decode(lines, decoded));
    CompareWithGolden(input, decoded, ReplaceAll(expected, "\n", "\r\n"));
  }
}

TEST(CodecRoundTrip, ByteExactAtBlockBoundariesAndLarge) {
  const TMIMEDecoder *codecs[] = {&TBase64Decoder::Instance(), &TUUDecoder::Instance()};
  for (const TMIMEDecoder *codec : codecs) {
    for (size_t size : {0u, 1u, 2u, 3u, 44u, 45u, 46u, 57u, 60u, 61u, 90u, 3u << 20}) {
      std::string data = RandomBytes(size, unsigned(size));
      TStringList lines;
      ASSERT_TRUE(codec->Encode(data, lines));
      for (const std::string &line : lines) ASSERT_LE(line.size(), 61u);
      std::string back;
      ASSERT_TRUE(codec->Decode(lines, back));
      EXPECT_TRUE(back == data) << codec->DecoderName() << " at " << size << " bytes";
    }
  }
}

TEST(CodecRoundTrip, LineListsThroughEveryCodec) {
  // What a message part does: encode its lines in place, decode them back.
  TStringList text;
  for (size_t size : {0u, 1u, 2u, 44u, 45u, 46u, 57u, 60u, 61u, 200u}) {
    std::string line = RandomBytes(size, unsigned(size) + 7);
    for (char &c : line)
      if (c == '\r' || c == '\n') c = ' ';
    text.push_back(line);
  }
  for (const char *name : {"base64", "quoted-printable", "uuencode", "x-uuencode", "8bit"}) {
    const TMIMEDecoder *codec = FindDecoder(name);
    TStringList lines = text, back;
    ASSERT_TRUE(EncodeLinesInPlace(codec, lines)) << name;
    ASSERT_TRUE(DecodeLines(codec, lines, back)) << name;
    // Decoding ends with the last line's CR LF, so no empty line follows.
    EXPECT_EQ(back, text) << name;
  }
}

}  // namespace
