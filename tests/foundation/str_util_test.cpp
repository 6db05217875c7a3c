#include <gtest/gtest.h>

#include "foundation/StrUtil.h"

TEST(StrUtil, CaseInsensitiveComparisonIgnoresOnlyAsciiCase) {
  EXPECT_TRUE(SameText("Content-Type", "content-TYPE"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  // Bytes above 127 are compared as they stand, never folded.
  EXPECT_FALSE(SameText("\xC4", "\xE4"));
  EXPECT_LT(CompareText("apple", "Banana"), 0);
  EXPECT_GT(CompareText("abc", "AB"), 0);
  EXPECT_TRUE(StartsText("ret", "RETR 1"));
  EXPECT_TRUE(EndsText(".EML", "mail.eml"));
  EXPECT_FALSE(EndsText("long suffix", "short"));
}

TEST(StrUtil, FindTextGivesFirstPositionFromStart) {
  EXPECT_EQ(FindText("xxABcab", "ab"), 2u);
  EXPECT_EQ(FindText("xxABcab", "ab", 3), 5u);
  EXPECT_EQ(FindText("abc", "abcd"), std::string::npos);
  EXPECT_EQ(FindText("abc", ""), 0u);
}

TEST(StrUtil, TrimRemovesControlCharactersAndBlanks) {
  EXPECT_EQ(Trim(" \t\r\nvalue \x01"), "value");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \r\n"), "  a");
  EXPECT_EQ(Trim("   "), "");
}

TEST(StrUtil, IntegerConversionRejectsJunkAndOverflow) {
  EXPECT_EQ(StrToIntDef(" 42 ", -1), 42);
  EXPECT_EQ(StrToIntDef("+7", -1), 7);
  EXPECT_EQ(StrToIntDef("-3", 0), -3);
  EXPECT_EQ(StrToIntDef("4x", -1), -1);
  EXPECT_EQ(StrToIntDef("", -1), -1);
  EXPECT_EQ(StrToIntDef("99999999999", -1), -1);
  EXPECT_EQ(StrToInt64Def("99999999999", -1), 99999999999LL);
}

TEST(StrUtil, SplitLinesTreatsEveryLineEndAlike) {
  EXPECT_EQ(SplitLines("A\nB\r\nC\rD"), (TStringList{"A", "B", "C", "D"}));
  EXPECT_EQ(SplitLines("A\r\n\r\nB\r\n"), (TStringList{"A", "", "B"}));
  EXPECT_TRUE(SplitLines("").empty());
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

// Every short text over {a, CR, LF} split as a byte-by-byte reading would:
// runs of CRs, CR before CR LF, a line end first or last.
TEST(StrUtil, SplitLinesAgreesWithAByteByByteReading) {
  auto reference = [](const std::string &text) {
    TStringList lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\r' && text[i] != '\n') {
        line += text[i];
        continue;
      }
      lines.push_back(line);
      line.clear();
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  };
  const char alphabet[] = {'a', '\r', '\n'};
  for (int length = 0; length <= 7; ++length) {
    int combinations = 1;
    for (int i = 0; i < length; ++i) combinations *= 3;
    for (int n = 0; n < combinations; ++n) {
      std::string text;
      for (int i = 0, k = n; i < length; ++i, k /= 3) text += alphabet[k % 3];
      ASSERT_EQ(SplitLines(text), reference(text)) << testing::PrintToString(text);
    }
  }
}

TEST(StrUtil, ReplaceAllHandlesOverlapAndCase) {
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAllText("One one ONE", "one", "1"), "1 1 1");
}
