#include "scraping/HtmlText.h"

#include <gtest/gtest.h>

#include "scraping/SimpleHtml.h"

namespace {

TStringList Text(TStringList lines) {
  HtmlToText(lines);
  return lines;
}

TEST(HtmlToText, BreakingTags) {
  EXPECT_EQ(Text({"x<br>y<p>z"}), (TStringList{"x", "y", "z"}));
  // Every break ends a line, empty or not; a last empty line is not added.
  EXPECT_EQ(Text({"<p>a<BR><br>b<br>"}), (TStringList{"", "a", "", "b"}));
  EXPECT_EQ(Text({"<title>T</title>one<li>two<dd>three<blockquote>four"}),
            (TStringList{"T", "one", "two", "three", "four"}));
  EXPECT_EQ(Text({"a<br/>b<br />c<P class=x>d"}), (TStringList{"a", "b", "c", "d"}));
  // Other tags vanish without a trace, and source lines are joined.
  EXPECT_EQ(Text({"<div>a<b>b</b></div><table><tr><td>c", "d</td></tr></table>"}),
            (TStringList{"abcd"}));
  EXPECT_TRUE(Text({}).empty());
  EXPECT_TRUE(Text({"<html><body></body></html>"}).empty());
}

TEST(HtmlToText, ReferencesAreDecodedTwice) {
  // The tokenizer decodes "&amp;" and the line decoding then reads "&lt;".
  EXPECT_EQ(Text({"&amp;lt;b&amp;gt; &eacute; &#233; &rsquo; &#8217;"}),
            (TStringList{"<b> \xE9 \xE9 &rsquo; '"}));
}

TEST(HtmlToText, ScriptsAndStylesAreDropped) {
  EXPECT_EQ(Text({"a<script type=\"text/javascript\">var x = 1;", "y();</script>b<br>",
                  "<style>p { color: red }</style>c<SCRIPT>z</SCRIPT>d"}),
            (TStringList{"ab", "cd"}));
  // An unclosed script swallows the rest.
  EXPECT_EQ(Text({"a<br>b<script>x<br>y"}), (TStringList{"a", "b"}));
  EXPECT_EQ(Text({"a<style>x<br>y"}), (TStringList{"a"}));
  EXPECT_EQ(Text({"a<script/>b"}), (TStringList{"ab"}));
  // A stray closing tag starts nothing.
  EXPECT_EQ(Text({"a</script>b</style>c"}), (TStringList{"abc"}));
}

TEST(HtmlToText, AttributesMentioningScriptsKeepTheText) {
  // Neither a page description nor a script link is a script: the words
  // after them are what the reader sees.
  EXPECT_EQ(Text({"<meta name=\"description\" content=\"x\">Dear reader,<br>",
                  "<a href=\"javascript:void(0)\">Click here</a> to read more"}),
            (TStringList{"Dear reader,", "Click here to read more"}));
  EXPECT_EQ(Text({"<p class=transcript>said<noscript>n</noscript>"}), (TStringList{"", "saidn"}));
}

TEST(HtmlToText, StringAndStreamForms) {
  std::string text = "x<br>y\r\n<p>z";
  HtmlToText(text);
  EXPECT_EQ(text, "x\r\ny\r\nz\r\n");

  std::stringstream stream;
  stream << "old<br>content";
  HtmlToText(stream);
  EXPECT_EQ(stream.str(), "old\r\ncontent\r\n");
  std::string first;
  std::getline(stream, first);
  EXPECT_EQ(first, "old\r");
  stream.clear();
  stream << "more";
  EXPECT_EQ(stream.str(), "old\r\ncontent\r\nmore");
}

TEST(SimpleHtml, LevelsFormsAndBreaks) {
  TSimpleHtml h;
  h.AddLine("first");
  h.AddLine("second", 7, true, shfHtml);
  h.AddLine("third", -1, false, shfPlain);
  h.AddLine("fourth", 300);
  h.AddLine("fifth", -5);
  ASSERT_EQ(h.Count(), 5u);
  EXPECT_EQ(h.Level(0), 5);
  EXPECT_EQ(h.Form(0), shfBoth);
  EXPECT_EQ(h.Line(1), "<br>second");
  EXPECT_EQ(h.Level(1), 7);
  EXPECT_EQ(h.Form(1), shfHtml);
  EXPECT_EQ(h.Level(2), 7);
  EXPECT_EQ(h.Form(2), shfPlain);
  EXPECT_EQ(h.Level(3), 255);
  EXPECT_EQ(h.Level(4), 0);

  TStringList text;
  h.ToText(text);
  EXPECT_EQ(text, (TStringList{"first", "secondthirdfourthfifth"}));
  EXPECT_EQ(h.Line(1), "<br>second");  // rendering leaves the lines alone
}

TEST(SimpleHtml, KeepForm) {
  TSimpleHtml h;
  h.AddLine("both", 1, false, shfBoth);
  h.AddLine("html", 2, false, shfHtml);
  h.AddLine("plain", 3, false, shfPlain);
  h.AddLine("html2", 4, false, shfHtml);
  h.KeepForm(shfBoth);
  EXPECT_EQ(h.Count(), 4u);
  h.KeepForm(shfPlain);
  EXPECT_EQ(h.Lines(), (TStringList{"both", "plain"}));
  // Levels travel with their lines.
  EXPECT_EQ(h.Level(0), 1);
  EXPECT_EQ(h.Level(1), 3);
  h.KeepForm(shfHtml);
  EXPECT_EQ(h.Lines(), (TStringList{"both"}));

  TSimpleHtmlList list;
  TSimpleHtml *a = list.Add();
  a->AddLine("x");
  list.Add();
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list[0]->Line(0), "x");
  EXPECT_EQ(list[1]->Count(), 0u);
}

}  // namespace
