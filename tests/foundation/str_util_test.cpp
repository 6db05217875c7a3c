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

TEST(StrUtil, ReplaceAllHandlesOverlapAndCase) {
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAllText("One one ONE", "one", "1"), "1 1 1");
}
