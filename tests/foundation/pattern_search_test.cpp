#include <gtest/gtest.h>

#include "foundation/QuorUtil.h"

namespace {
TEST(PatternSearch, LazyUnlessGreedyBitSet) {
  const std::string page = "<b>one</b> and <b>two</b>";
  EXPECT_EQ(PatternSearch("<b>.*</b>", page, 0), "<b>one</b>");
  EXPECT_EQ(PatternSearch("<b>.*</b>", page, pf_Greedy), page);
  // Flag set 13: caseless, dot-all, greedy.
  EXPECT_EQ(PatternSearch("<B>.*</B>", "<b>1\n</b>x<b>2</b>", 13), "<b>1\n</b>x<b>2</b>");
}

TEST(PatternSearch, CaselessDotAllAndMultiline) {
  EXPECT_EQ(PatternSearch("HELLO", "say hello", 0), "");
  EXPECT_EQ(PatternSearch("HELLO", "say hello", pf_Caseless), "hello");
  EXPECT_EQ(PatternSearch("a.b", "a\nb", 0), "");
  EXPECT_EQ(PatternSearch("a.b", "a\nb", pf_DotAll), "a\nb");
  EXPECT_EQ(PatternSearch("^two", "one\ntwo", 0), "");
  EXPECT_EQ(PatternSearch("^two", "one\ntwo", pf_Multiline), "two");
  EXPECT_EQ(PatternSearch("a b c", "abc", pf_Extended), "abc");
}

TEST(PatternSearch, GroupsAppendedUpToFirstEmptyUnlessWholeOnly) {
  const std::string text = "name=Joe; id=42;";
  EXPECT_EQ(PatternSearch("name=(\\w+); id=(\\d+)", text, pf_Greedy), "name=Joe; id=42Joe42");
  EXPECT_EQ(PatternSearch("name=(\\w+); id=(\\d+)", text, pf_Greedy | pf_WholeMatchOnly),
            "name=Joe; id=42");
  // Lazy quantifiers stop as early as the pattern allows.
  EXPECT_EQ(PatternSearch("name=(\\w+); id=(\\d+)", text, 0), "name=Joe; id=4Joe4");
  // An empty (or unset) group ends the appended texts.
  EXPECT_EQ(PatternSearch("(x?)name=(\\w+)", text, pf_Greedy), "name=Joe");
  EXPECT_EQ(PatternSearch("name=(\\w+)(z)?; id=(\\d+)", text, pf_Greedy), "name=Joe; id=42Joe");
  // Flag set 36: dot-all, lazy, whole match only.
  EXPECT_EQ(PatternSearch("<(a)>.*<", "<a>x\ny<a>", 36), "<a>x\ny<");
}

TEST(PatternSearch, NoMatchOrBadPatternGivesEmpty) {
  EXPECT_EQ(PatternSearch("zzz", "abc", 0), "");
  EXPECT_EQ(PatternSearch("(unclosed", "(unclosed", 0), "");
  EXPECT_FALSE(PatternMatchesWhole("[", "[", 0));
}

TEST(PatternSearch, CatastrophicPatternEndsWithoutMatch) {
  std::string text(40, 'a');
  text += '!';
  EXPECT_EQ(PatternSearch("(a+)+$", text, pf_Greedy), "");
}

TEST(PatternMatchesWhole, FirstMatchMustCoverTheText) {
  EXPECT_TRUE(PatternMatchesWhole("\\d+", "12345", pf_Greedy));
  EXPECT_FALSE(PatternMatchesWhole("\\d+", "12345x", pf_Greedy));
  EXPECT_FALSE(PatternMatchesWhole("\\d+", "x12345", pf_Greedy));
  // Lazy: the first match is one digit only.
  EXPECT_FALSE(PatternMatchesWhole("\\d+", "12345", 0));
  EXPECT_TRUE(PatternMatchesWhole("\\d+$", "12345", 0));
  EXPECT_TRUE(PatternMatchesWhole("", "", 0));
  EXPECT_FALSE(PatternMatchesWhole("", "a", 0));
  EXPECT_TRUE(PatternMatchesWhole("HELLO", "hello", pf_Caseless));
}
}  // namespace
