#include "protocol/Pop3Command.h"

#include <gtest/gtest.h>

namespace {

TEST(Pop3Command, PrefixOrderAndArgumentPositions) {
  struct Case {
    const char *line;
    TPop3CommandKind kind;
    const char *arg;
  } cases[] = {
      {"USER jdoe", pc_User, "jdoe"},
      {"  user   JDoe@Example.com  ", pc_User, "JDoe@Example.com"},
      {"USER", pc_Unknown, "USER"},   // no blank, no argument: not USER at all
      {"USER ", pc_Unknown, "USER"},  // the blank is trimmed away first
      {"PASS", pc_Unknown, "PASS"},
      {"PASS  Secret Words ", pc_Pass, "Secret Words"},
      {"list3", pc_List, "3"},
      {"LIST 12", pc_List, "12"},
      {"TOP 1 0", pc_Top, "1 0"},
      {"top1 5", pc_Top, "1 5"},
      {"STATUS", pc_Stat, "US"},
      {"QUITTING now", pc_Quit, "TING now"},
      {"APOP user digest", pc_Apop, "user digest"},
      {"auth plain", pc_Auth, "plain"},
      {"uidl", pc_Uidl, ""},
      {"RSET", pc_Rset, ""},
      {"LAST", pc_Last, ""},
      {"NOOP", pc_Noop, ""},
      {"DELE 2", pc_Dele, "2"},
      {"RETR 1", pc_Retr, "1"},
      {"", pc_Unknown, ""},
      {"\t \r", pc_Unknown, ""},
      {"XTND XMIT", pc_Unknown, "XTND XMIT"},
      {"TO", pc_Unknown, "TO"},
  };
  for (const Case &c : cases) {
    TPop3Command cmd = ParsePop3Command(c.line);
    EXPECT_EQ(cmd.Kind, c.kind) << c.line;
    EXPECT_EQ(cmd.Arg, c.arg) << c.line;
  }
}

TEST(Pop3Command, NumbersAndTopArguments) {
  EXPECT_EQ(Pop3MessageNumber("7"), 7);
  EXPECT_EQ(Pop3MessageNumber("abc"), -1);
  EXPECT_EQ(Pop3MessageNumber(""), -1);
  EXPECT_EQ(Pop3MessageNumber("99999999999999999999"), -1);

  int n = 0, k = 0;
  ParseTopArguments("3 10", n, k);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(k, 10);
  ParseTopArguments("3", n, k);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(k, -1);
  ParseTopArguments("x 0", n, k);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(k, 0);
  ParseTopArguments("2   4 ", n, k);  // extra blanks belong to the second half
  EXPECT_EQ(n, 2);
  EXPECT_EQ(k, 4);
  ParseTopArguments("1 2 3", n, k);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(k, -1);
}

TEST(Pop3Command, StuffingAndTopCut) {
  TStringList lines = {"Subject: x", "", ".", "..two", "a.b", "", ".end"};
  TStringList top = lines;
  StuffForPop3(lines);
  EXPECT_EQ(lines, (TStringList{"Subject: x", "", "..", "...two", "a.b", "", "..end", "."}));

  TStringList zero = top;
  CutToTop(zero, 0);
  EXPECT_EQ(zero, (TStringList{"Subject: x", ""}));
  TStringList two = top;
  CutToTop(two, 2);
  EXPECT_EQ(two, (TStringList{"Subject: x", "", ".", "..two"}));
  TStringList many = top;
  CutToTop(many, 1000);
  EXPECT_EQ(many, top);
  TStringList headerOnly = {"A: 1", "B: 2"};
  CutToTop(headerOnly, 0);
  EXPECT_EQ(headerOnly, (TStringList{"A: 1", "B: 2"}));
}

// TOP on a message held as one text keeps exactly the lines CutToTop keeps
// of its split form, whatever line ends the text uses, and ends on a line
// end rather than halfway through a CR LF.
TEST(Pop3TextShaping, TopOfTextKeepsWhatCutToTopKeepsOfTheSplitText) {
  const std::string texts[] = {"",
                               "A: 1\r\nB: 2",
                               "A: 1\r\nB: 2\r\n",
                               "A: 1\r\n\r\n",
                               "A: 1\r\n\r\nbody 1\r\nbody 2\r\nbody 3",
                               "A: 1\nB: 2\n\nx\ny\n",
                               "A: 1\rB: 2\r\r.\r..two\rz",
                               "\r\nbody right away\r\nmore",
                               "A: 1\n\r\nx\r\n",
                               "A: 1\r\n\n\r\r\n"};
  for (const std::string &text : texts) {
    for (int k : {-1, 0, 1, 2, 5}) {
      TStringList cut = SplitLines(text);
      CutToTop(cut, k);
      const std::string_view top = TopOfText(text, k);
      EXPECT_EQ(SplitLines(top), cut) << "k=" << k << " text=" << text;
      EXPECT_EQ(text.compare(0, top.size(), top), 0);
      // A kept CR is never separated from the LF after it.
      if (!top.empty() && top.size() < text.size()) {
        EXPECT_FALSE(top.back() == '\r' && text[top.size()] == '\n') << text;
      }
    }
  }
  EXPECT_EQ(TopOfText("A: 1\r\n\r\nb1\r\nb2\r\n", 1), "A: 1\r\n\r\nb1\r\n");
}

}  // namespace
