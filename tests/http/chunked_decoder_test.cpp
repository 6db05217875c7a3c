#include <gtest/gtest.h>

#include "http/ChunkedDecoder.h"

namespace {

const std::string kWire =
    "5;name=value\r\nhello\r\n"
    "A \r\n, world!\r\n\r\n"
    "0\r\nTrailer: x\r\n\r\n"
    "HTTP/1.1 200 next answer";
const std::string kBody = "hello, world!\r\n";
const size_t kEnd = kWire.find("HTTP/1.1");

// Feeds Wire in pieces of Size bytes (the last one shorter); how much of it
// the decoder used in all.
size_t FeedInPieces(TChunkedDecoder &decoder, const std::string &wire, size_t size,
                    std::string &body) {
  size_t used = 0;
  for (size_t at = 0; at < wire.size(); at += size) {
    const std::string_view piece = std::string_view(wire).substr(at, size);
    const size_t n = decoder.Feed(piece, body);
    used += n;
    if (n < piece.size()) break;
  }
  return used;
}

TEST(ChunkedDecoder, PiecesCutAnywhereGiveTheSameBodyAndEnd) {
  for (size_t size = 1; size <= kWire.size(); ++size) {
    TChunkedDecoder decoder;
    std::string body;
    const size_t used = FeedInPieces(decoder, kWire, size, body);
    EXPECT_TRUE(decoder.Done()) << size;
    EXPECT_EQ(body, kBody) << size;
    EXPECT_EQ(used, kEnd) << size;
  }
  // Every cut in two, and nothing after the end is taken.
  for (size_t cut = 0; cut <= kEnd; ++cut) {
    TChunkedDecoder decoder;
    std::string body;
    decoder.Feed(std::string_view(kWire).substr(0, cut), body);
    EXPECT_EQ(decoder.Feed(std::string_view(kWire).substr(cut), body), kEnd - cut) << cut;
    EXPECT_EQ(body, kBody) << cut;
  }
  TChunkedDecoder bare;  // bare LF line ends, no trailer
  std::string body;
  bare.Feed("3\nabc\n0\n\n", body);
  EXPECT_TRUE(bare.Done());
  EXPECT_EQ(body, "abc");
}

TEST(ChunkedDecoder, MalformedFramingFailsInsteadOfCorruptingTheBody) {
  const struct {
    std::string wire;
    std::string error;
  } cases[] = {
      {"zz\r\n", "Bad chunk size line"},
      {"\r\n", "Bad chunk size line"},
      {"5 x\r\nhello\r\n", "Bad chunk size line"},
      {"3\r\nabcdef\r\n", "Chunk data longer than its size"},
      {"FFFFFFFFFFFFFFFFFFFF\r\n", "Chunk size too large"},
      {std::string(5000, '0'), "Chunk line too long"},
      {"0\r\n" + std::string(70000, 'x'), "Chunk line too long"},
  };
  for (const auto &c : cases) {
    TChunkedDecoder decoder;
    std::string body;
    FeedInPieces(decoder, c.wire, 7, body);
    EXPECT_TRUE(decoder.Failed()) << c.wire.substr(0, 30);
    EXPECT_EQ(decoder.Error(), c.error) << c.wire.substr(0, 30);
    EXPECT_FALSE(decoder.Done());
  }
  // An unfinished body is neither done nor failed.
  TChunkedDecoder decoder;
  std::string body;
  decoder.Feed("5\r\nhel", body);
  EXPECT_FALSE(decoder.Done());
  EXPECT_FALSE(decoder.Failed());
  EXPECT_EQ(body, "hel");
}

}  // namespace
