// Large pages that Debian packages of this project's toolchain ship: markup
// nobody here wrote, with all the oddities of hand-made and generated HTML.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "scraping/HTMLParser.h"
#include "scraping/HtmlText.h"
#include "shared/TestFiles.h"

namespace {

const char *const kPages[] = {
    "/usr/share/doc/fetchmail/fetchmail-FAQ.html",  // fetchmail
    "/usr/share/doc/ninja-build/manual.html",       // ninja-build
};

bool ReadPage(const std::string &path, TStringList &lines) {
  if (!std::filesystem::exists(path)) return false;
  lines = SplitLines(ReadFileText(path));
  return true;
}

// The input as the tokenizer is meant to see it: line ends vanish, except
// inside a tag whose text has begun, where each one counts as one blank.
std::string ExpectedJoin(const TStringList &lines) {
  std::string out;
  bool inTag = false;
  size_t tagLength = 0;
  for (size_t l = 0; l < lines.size(); ++l) {
    if (l > 0 && inTag && tagLength > 0) {
      out += ' ';
      ++tagLength;
    }
    for (char c : lines[l]) {
      if (!inTag) {
        out += c;
        if (c == '<') {
          inTag = true;
          tagLength = 0;
        }
      } else {
        out += c;
        if (c == '>')
          inTag = false;
        else
          ++tagLength;
      }
    }
  }
  if (inTag) {
    if (tagLength == 0)
      out.pop_back();  // a bare "<" at the very end makes no token
    else
      out += '>';
  }
  return out;
}

class RealPage : public testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    if (!ReadPage(GetParam(), lines)) GTEST_SKIP() << GetParam() << " is not installed";
  }
  TStringList lines;
};

TEST_P(RealPage, TokensGiveBackTheInput) {
  THTMLParser parser;
  parser.Lines = lines;
  parser.Parse();
  ASSERT_GT(parser.Tokens.size(), 1000u);

  std::string rebuilt;
  bool lastWasText = false;
  for (const auto &token : parser.Tokens) {
    if (token->IsTag()) {
      rebuilt += "<" + token->Raw + ">";
      EXPECT_EQ(token->AsTag()->Name, UpperCase(token->AsTag()->Name));
      lastWasText = false;
    } else {
      ASSERT_FALSE(token->Raw.empty());
      ASSERT_FALSE(lastWasText) << "two text tokens in a row before: " << token->Raw;
      rebuilt += token->Raw;
      lastWasText = true;
    }
  }
  std::string expected = ExpectedJoin(lines);
  ASSERT_EQ(rebuilt.size(), expected.size());
  EXPECT_TRUE(rebuilt == expected);
}

TEST_P(RealPage, TextKeepsTheVisibleWords) {
  std::string command = std::string("timeout 120 python3 ") + BRELVANE_TEST_DATA +
                        "/html/visible_words.py " + GetParam();
  FILE *pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string words;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) words.append(buffer, got);
  ASSERT_EQ(pclose(pipe), 0) << "the reference parser failed";
  TStringList expected = SplitLines(words);
  ASSERT_GT(expected.size(), 500u);

  TStringList text = lines;
  HtmlToText(text);
  std::string all = JoinLines(text, "\n");
  EXPECT_LT(all.size(), ExpectedJoin(lines).size());  // the markup is gone
  std::vector<std::string> missing;
  for (const std::string &word : expected)
    if (all.find(word) == std::string::npos) missing.push_back(word);
  EXPECT_TRUE(missing.empty()) << missing.size() << " words missing, the first: "
                               << (missing.empty() ? "" : missing[0]);
  // No tag survives: every "<" left is one the page wrote as a reference.
  size_t escapedLessThan = 0;
  for (const std::string &line : lines)
    for (size_t p = line.find("&lt;"); p != std::string::npos; p = line.find("&lt;", p + 1))
      ++escapedLessThan;
  size_t lessThan = 0;
  for (char c : all) lessThan += c == '<';
  EXPECT_LE(lessThan, escapedLessThan);
}

INSTANTIATE_TEST_SUITE_P(DebianDocs, RealPage, testing::ValuesIn(kPages));

}  // namespace
