#include "scraping/HtmlEntities.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string Decoded(std::string text) {
  DecodeEntities(text);
  return text;
}

TEST(DecodeEntities, CommonReferences) {
  EXPECT_EQ(Decoded("a&amp;b"), "a&b");
  EXPECT_EQ(Decoded("&lt;x&gt;"), "<x>");
  EXPECT_EQ(Decoded("a&nbsp;b"), "a b");
  EXPECT_EQ(Decoded("&quot;q&quot;"), "\"q\"");
  EXPECT_EQ(Decoded("&#65;&#066;"), "AB");
  EXPECT_EQ(Decoded("it&#8217;s &#8220;x&#8221; 5&#8364;"), "it's \"x\" 5E");
  EXPECT_EQ(Decoded("&deg;&ordm;&hibar;&brkbar;"), "\xB0\xBA\xAF\xA6");
  // Names compare case-sensitively.
  EXPECT_EQ(Decoded("&Auml;&auml;"), "\xC4\xE4");
  EXPECT_EQ(Decoded("&AMP;"), "&AMP;");
}

TEST(DecodeEntities, ReferencesWithoutTheirSemicolon) {
  EXPECT_EQ(Decoded("&amp"), "&");
  EXPECT_EQ(Decoded("x &amp y"), "x & y");
  EXPECT_EQ(Decoded("&ltb"), "<b");
  EXPECT_EQ(Decoded("&#65 and"), "A and");
}

TEST(DecodeEntities, UnknownOrMalformedReferencesStayAsWritten) {
  std::string text = "&bogus; AT&T & &; &# &#; &#x41; &#0; &";
  EXPECT_FALSE(DecodeEntities(text));
  EXPECT_EQ(text, "&bogus; AT&T & &; &# &#; &#x41; &#0; &");
  // Codes without a byte of their own are not folded onto unrelated ones,
  // nor shortened into a smaller number.
  EXPECT_EQ(Decoded("&#8212; &#321; &#82171;"), "&#8212; &#321; &#82171;");
  // An "&" right before a reference does not hide it.
  EXPECT_EQ(Decoded("&&amp;"), "&&");
  std::string plain = "no references";
  EXPECT_FALSE(DecodeEntities(plain));
}

TEST(DecodeEntity, OneReference) {
  char ch = 0;
  EXPECT_TRUE(DecodeEntity("&amp;", ch));
  EXPECT_EQ(ch, '&');
  EXPECT_TRUE(DecodeEntity("&eacute", ch));
  EXPECT_EQ(ch, '\xE9');
  EXPECT_TRUE(DecodeEntity("&#255;", ch));
  EXPECT_EQ(ch, '\xFF');
  EXPECT_FALSE(DecodeEntity("amp;", ch));
  EXPECT_EQ(ch, '&');
  EXPECT_FALSE(DecodeEntity("&x", ch));
  EXPECT_FALSE(DecodeEntity("&times;", ch));  // not among the decoder's names
  EXPECT_FALSE(DecodeEntity("&#256;", ch));
}

TEST(HtmlEscape, MarkupBlanksAndHighBytes) {
  std::string text = "a<b> \"c\" & d  e\xE9\x7F";
  EXPECT_TRUE(HtmlEscape(text));
  EXPECT_EQ(text, "a&lt;b&gt; &quot;c&quot; &amp; d &nbsp;e&#233;&#127;");
  std::string three = "   ";
  HtmlEscape(three);
  EXPECT_EQ(three, " &nbsp;&nbsp;");
  std::string plain = "nothing to do\t";
  EXPECT_FALSE(HtmlEscape(plain));
  EXPECT_EQ(plain, "nothing to do\t");

  TStringList lines = {"a<b", ""};
  TextLinesToHtml(lines);
  EXPECT_EQ(lines, (TStringList{"a&lt;b<br>", "<br>"}));
}

TEST(HtmlEscape, DecodingGivesTheTextBack) {
  std::mt19937 rng(12345);
  // Bytes that escaping leaves alone or turns into references, weighted
  // towards the ones that interact: "&", "#", ";", digits and letters.
  const std::string alphabet = "&&&##;;  amplt0123456789xX<>\"\xA0\xE9\xFF\x7F\x80";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    int length = int(rng() % 24);
    for (int i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
    std::string escaped = text;
    HtmlEscape(escaped);
    DecodeEntities(escaped);
    ASSERT_EQ(escaped, text) << "round " << round;
  }
}

}  // namespace
