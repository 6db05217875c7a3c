#include <gtest/gtest.h>

#include "mail/EmailDecoders.h"

namespace {

// RFC 2047 section 8.
TEST(HeaderWords, Rfc2047Examples) {
  EXPECT_EQ(DecodeHeaderWords("=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>"),
            "Keith Moore <moore@cs.utk.edu>");
  EXPECT_EQ(DecodeHeaderWords("=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>"),
            "Keld J\xF8rn Simonsen <keld@dkuug.dk>");
  EXPECT_EQ(DecodeHeaderWords("=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>"),
            "Andr\xE9 Pirard <PIRARD@vm1.ulg.ac.be>");
  EXPECT_EQ(DecodeHeaderWords("=?ISO-8859-1?B?SWYgeW91IGNhbiByZWFkIHRoaXMgeW8=?=\r\n"
                              "    =?ISO-8859-2?B?dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg==?="),
            "If you can read this you understand the example.");
  const std::pair<const char *, const char *> table[] = {
      {"(=?ISO-8859-1?Q?a?=)", "(a)"},
      {"(=?ISO-8859-1?Q?a?= b)", "(a b)"},
      {"(=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)", "(ab)"},
      {"(=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=)", "(ab)"},
      {"(=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=)", "(ab)"},
      {"(=?ISO-8859-1?Q?a_b?=)", "(a b)"},
      {"(=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)", "(a b)"},
  };
  for (auto [encoded, decoded] : table) EXPECT_EQ(DecodeHeaderWords(encoded), decoded) << encoded;
}

TEST(HeaderWords, EveryWellFormedWordIsDecodedWhateverItsCharset) {
  EXPECT_EQ(DecodeHeaderWords("=?iso-8859-1?Q?Caf=E9_au_lait?="), "Caf\xE9 au lait");
  EXPECT_EQ(DecodeHeaderWords("=?US-ASCII?B?SGk=?="), "Hi");
  EXPECT_EQ(DecodeHeaderWords("=?utf-8?b?SGk?="), "Hi");  // padding left off
  // A later ISO word must not leave an earlier UTF-8 one encoded.
  EXPECT_EQ(DecodeHeaderWords("=?UTF-8?Q?caf=C3=A9?= and =?ISO-8859-1?Q?th=E9?="),
            "caf\xC3\xA9 and th\xE9");
  EXPECT_EQ(DecodeHeaderWords("Re: =?koi8-r?B?8NLJ18XU?= ok"), "Re: \xF0\xD2\xC9\xD7\xC5\xD4 ok");
}

TEST(HeaderWords, MalformedWordsStayAsWritten) {
  EXPECT_EQ(DecodeHeaderWords("plain text"), "plain text");
  EXPECT_EQ(DecodeHeaderWords(std::string("nul\0s go", 8)), "nuls go");
  for (const char *text : {"=?", "=?iso-8859-1", "=?iso-8859-1?Q", "=?iso-8859-1?Q?abc",
                           "a =?b c?Q?x?= d", "=?iso?QQ?x?="})
    EXPECT_EQ(DecodeHeaderWords(text), text);
  EXPECT_EQ(DecodeHeaderWords("=?iso-8859-1?Q?bad=ZZ?="), "bad=ZZ");
  EXPECT_EQ(DecodeHeaderWords("=?iso-8859-1?Q?"
                              "?= x"),
            " x");
  // Many starts that never close, then one real word.
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "=?a";
  EXPECT_EQ(DecodeHeaderWords(many + " =?x?Q?y?="), many + " y");
  // A stray "=?" in front of a real word does not hide it.
  EXPECT_EQ(DecodeHeaderWords("1=?2 =?iso-8859-1?Q?ok?="), "1=?2 ok");
}

TEST(HeaderWords, Iso2022JpBecomesShiftJis) {
  // "\x1b$B" + JIS 0x3024 0x4A38 + "\x1b(B" + "!" : two kanji and a bang.
  std::string jis = "\x1b$B\x30\x24\x4A\x38\x1b(B!";
  std::string word = "=?ISO-2022-JP?B?" + Base64EncodeBytes(jis) + "?=";
  EXPECT_EQ(DecodeHeaderWords(word), "\x88\xA2\x95\xB6!");
  // Only that charset is converted.
  word = "=?x-other?B?" + Base64EncodeBytes(jis) + "?=";
  EXPECT_EQ(DecodeHeaderWords(word), jis);
}

TEST(FileNameWords, DecodesBQAndUWordsRepeatedly) {
  EXPECT_EQ(DecodeFileNameWords("  =?iso-8859-1?Q?r=E9sum=E9_2.doc?=  "), "r\xE9sum\xE9 2.doc");
  EXPECT_EQ(DecodeFileNameWords("=?utf-8?B?cmVwb3J0LnBkZg==?="), "report.pdf");
  EXPECT_EQ(DecodeFileNameWords("=?x?U?#0V%T?=.txt"), "Cat.txt");
  EXPECT_EQ(DecodeFileNameWords("=?a?Q?one?= and =?a?B?dHdv?="), "one and two");
  // Lower-case hex is not an escape here; soft breaks of every kind vanish.
  EXPECT_EQ(DecodeFileNameWords("=?a?Q?x=e9y=\r\nz=\nw=?="), "x=e9yzw");
  // Unknown encoding letters read as Q; a missing letter field likewise.
  EXPECT_EQ(DecodeFileNameWords("=?a?X?a_b?="), "a b");
  // A decoded word that itself spells a word is decoded again.
  EXPECT_EQ(DecodeFileNameWords("=?a?B?" + Base64EncodeBytes("=?a?Q?in_ner?=") + "?="), "in ner");
  // Unfinished words stop the search and stay.
  EXPECT_EQ(DecodeFileNameWords("=?a?Q?x?= =?b?Q?y"), "x =?b?Q?y");
  EXPECT_EQ(DecodeFileNameWords("=?x?U? bad?= tail"), "=?x?U? bad?= tail");
}

TEST(FileNameWords, ManyWordsInOneName) {
  std::string name, expected;
  for (int i = 0; i < 20000; ++i) {
    name += "=?a?Q?x_?=";
    expected += "x ";
  }
  EXPECT_EQ(DecodeFileNameWords(name), expected);
}

}  // namespace
