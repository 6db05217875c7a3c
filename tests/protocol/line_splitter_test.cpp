#include <gtest/gtest.h>

#include "protocol/LineSplitter.h"

namespace {

TStringList SplitWhole(const std::string &input, std::string *partial = nullptr) {
  TLineSplitter s;
  TStringList lines;
  s.Append(input, lines);
  if (partial) *partial = s.Partial();
  return lines;
}

TEST(LineSplitter, EveryKindOfLineEndEndsALineOnceACrLfHasArrived) {
  EXPECT_EQ(SplitWhole("A\nB\r\n"), (TStringList{"A", "B"}));
  EXPECT_EQ(SplitWhole("A\rB\r\n"), (TStringList{"A", "B"}));
  EXPECT_EQ(SplitWhole("\r\n\r\n"), (TStringList{"", ""}));
  EXPECT_EQ(SplitWhole("A\n\nB\r\n"), (TStringList{"A", "", "B"}));
  EXPECT_EQ(SplitWhole("A\r\rB\r\n"), (TStringList{"A", "", "B"}));
}

TEST(LineSplitter, TextAfterTheLastCrLfWaits) {
  std::string partial;
  EXPECT_EQ(SplitWhole("A\r\nB\nC", &partial), (TStringList{"A"}));
  EXPECT_EQ(partial, "B\nC");
  EXPECT_TRUE(SplitWhole("no end\n", &partial).empty());
  EXPECT_EQ(partial, "no end\n");
  EXPECT_TRUE(SplitWhole("cut\r", &partial).empty());
  EXPECT_EQ(partial, "cut\r");
}

TEST(LineSplitter, ResultDoesNotDependOnHowTheInputWasCut) {
  const std::string input = "HELO x\r\nA\nB\r\n\r\nC\rD\r\n\n\rtail\r\nE\r\r\nend";
  std::string wholePartial;
  TStringList whole = SplitWhole(input, &wholePartial);
  for (size_t cut1 = 0; cut1 <= input.size(); ++cut1)
    for (size_t cut2 = cut1; cut2 <= input.size(); ++cut2) {
      TLineSplitter s;
      TStringList lines;
      s.Append(input.substr(0, cut1), lines);
      s.Append(input.substr(cut1, cut2 - cut1), lines);
      s.Append(input.substr(cut2), lines);
      ASSERT_EQ(lines, whole) << "cut at " << cut1 << "," << cut2;
      ASSERT_EQ(s.Partial(), wholePartial);
    }
}

TEST(LineSplitter, ByteAtATimeLongLineAndClear) {
  TLineSplitter s;
  TStringList lines;
  std::string longLine(100000, 'q');
  for (char c : longLine + "\r\n") s.Append(std::string_view(&c, 1), lines);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], longLine);
  s.Append("left over", lines);
  s.Clear();
  s.Append("\r\n", lines);
  EXPECT_EQ(lines.back(), "");
}

TEST(LineSplitter, ZeroBytesAreDroppedNotTheRestOfTheRead) {
  EXPECT_EQ(WithoutZeroBytes(std::string("a\0b\0\0\r\nc", 8)), "ab\r\nc");
  EXPECT_EQ(WithoutZeroBytes(std::string("\0", 1)), "");
}

}  // namespace
