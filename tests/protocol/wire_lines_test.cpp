#include <gtest/gtest.h>

#include <random>
#include <string>

#include "protocol/WireLines.h"
#include "tests/protocol/PlainLinesReference.h"

namespace {

size_t Plain(std::string_view text, size_t from = 0, bool dotStuff = true) {
  return PlainLinesEnd(text, from, text.size(), dotStuff);
}

TEST(WireLines, PlainStretchEndsBeforeTheFirstLineNeedingAChange) {
  EXPECT_EQ(Plain("a\r\nb\r\n"), 6u);
  EXPECT_EQ(Plain("a\r\nb"), 3u);                    // the last line has no end
  EXPECT_EQ(Plain("a\r\nb\nc\r\n"), 3u);             // a lone LF
  EXPECT_EQ(Plain("a\r\nb\rc\r\n"), 3u);             // a lone CR
  EXPECT_EQ(Plain("a\r\n\r\r\n"), 3u);               // CR CR LF: an empty line ended by CR
  EXPECT_EQ(Plain("a\r\n.b\r\n"), 3u);               // a dot to stuff
  EXPECT_EQ(Plain("a\r\n.b\r\n", 0, false), 7u);     // ... unless not stuffing
  EXPECT_EQ(Plain(".a\r\nb\r\n"), 7u);               // the first line's dot is the caller's
  EXPECT_EQ(Plain("\na\r\n"), 0u);
  EXPECT_EQ(Plain("a\r\nb\r\n", 3), 6u);
  EXPECT_EQ(PlainLinesEnd("a\r\nb\r\nc\r\n", 0, 5, true), 3u);  // a line must end inside the limit
  EXPECT_EQ(PlainLinesEnd("a\r\nb\r\nc\r\n", 0, 6, true), 6u);
}

// Long texts so that the sixteen-byte steps meet every kind of break at
// every offset within a step, checked against the line-by-line definition.
TEST(WireLines, FastScanAgreesWithTheLineByLineDefinition) {
  std::mt19937 random(20261208);
  const char alphabet[] = {'a', 'b', '.', '\r', '\n'};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const size_t length = random() % 200;
    // Mostly plain CR LF lines, with a rare odd byte, as real mail is.
    while (text.size() < length) {
      if (random() % 8 == 0) {
        text += alphabet[random() % 5];
      } else {
        text.append(random() % 40, 'x');
        text += "\r\n";
      }
    }
    const size_t from = random() % (text.size() + 1);
    const size_t limit = from + random() % (text.size() + 2);
    for (bool dotStuff : {true, false}) {
      ASSERT_EQ(PlainLinesEnd(text, from, limit, dotStuff),
                PlainLinesEndByLines(text, from, limit, dotStuff))
          << "round " << round << " from " << from << " limit " << limit << " stuff " << dotStuff;
    }
  }
}

TEST(WireLines, NextLineEndFindsCrOrLfAtAnyOffset) {
  for (size_t at = 0; at < 40; ++at) {
    std::string text(40, 'x');
    text[at] = at % 2 ? '\r' : '\n';
    EXPECT_EQ(NextLineEnd(text, 0), at);
    EXPECT_EQ(NextLineEnd(text, at + 1), text.size());
  }
}

}  // namespace
