#include "scraping/HTMLParser.h"

#include <gtest/gtest.h>

namespace {

// One token per entry: "<RAW>" for tags, the raw text otherwise.
std::vector<std::string> Shapes(const THTMLParser &p) {
  std::vector<std::string> out;
  for (const auto &t : p.Tokens) out.push_back(t->IsTag() ? "<" + t->Raw + ">" : t->Raw);
  return out;
}

THTMLParser Parsed(TStringList lines) {
  THTMLParser p;
  p.Lines = std::move(lines);
  p.Parse();
  return p;
}

std::string TextOf(std::string_view html) {
  THTMLParser p;
  p.Parse(html);
  EXPECT_EQ(p.Tokens.size(), 1u);
  if (p.Tokens.empty() || p.Tokens[0]->IsTag()) return "<no text token>";
  return p.Tokens[0]->AsText()->Text;
}

TEST(HTMLParser, TagsAndTextAlternate) {
  THTMLParser p = Parsed({"a<b>c</b>"});
  ASSERT_EQ(p.Tokens.size(), 4u);
  EXPECT_EQ(p.Tokens[0]->AsText()->Text, "a");
  EXPECT_EQ(p.Tokens[1]->AsTag()->Name, "B");
  EXPECT_EQ(p.Tokens[2]->AsText()->Text, "c");
  EXPECT_EQ(p.Tokens[3]->AsTag()->Name, "/B");
  EXPECT_EQ(p.Tokens[1]->AsText(), nullptr);
  EXPECT_EQ(p.Tokens[0]->AsTag(), nullptr);

  EXPECT_EQ(Shapes(Parsed({"<p><>x>y<br/>"})),
            (std::vector<std::string>{"<p>", "<>", "x>y", "<br/>"}));
}

TEST(HTMLParser, LinesAreJoined) {
  // A tag broken over lines is joined with one blank per line end...
  EXPECT_EQ(Shapes(Parsed({"x<a", "href=x>y"})),
            (std::vector<std::string>{"x", "<a href=x>", "y"}));
  EXPECT_EQ(Shapes(Parsed({"<a", "", "b", ">"})), (std::vector<std::string>{"<a  b >"}));
  // ...but a tag whose text has not started yet gets no leading blank.
  EXPECT_EQ(Shapes(Parsed({"<", "td>"})), (std::vector<std::string>{"<td>"}));
  // A "<" inside an open tag is part of its text, also at a line start.
  EXPECT_EQ(Shapes(Parsed({"<a", "<b>"})), (std::vector<std::string>{"<a <b>"}));
  // Text is joined with nothing in between.
  EXPECT_EQ(Shapes(Parsed({"ab", "cd", "<i>", "e"})),
            (std::vector<std::string>{"abcd", "<i>", "e"}));

  THTMLParser split = Parsed({"<A", "HREF=x>"});
  EXPECT_EQ(split.Tokens[0]->AsTag()->Name, "A");
  EXPECT_EQ(split.Tokens[0]->AsTag()->Params.at(0).Value, "x");
}

TEST(HTMLParser, UnfinishedInputIsKept) {
  EXPECT_EQ(Shapes(Parsed({"a<b c"})), (std::vector<std::string>{"a", "<b c>"}));
  EXPECT_EQ(Shapes(Parsed({"a<b", "c"})), (std::vector<std::string>{"a", "<b c>"}));
  EXPECT_EQ(Shapes(Parsed({"text<"})), (std::vector<std::string>{"text"}));
  EXPECT_TRUE(Parsed({}).Tokens.empty());
  EXPECT_TRUE(Parsed({"", ""}).Tokens.empty());

  // Parsing again appends: earlier tokens stay.
  THTMLParser p = Parsed({"<a>"});
  p.Lines = {"b"};
  p.Parse();
  EXPECT_EQ(Shapes(p), (std::vector<std::string>{"<a>", "b"}));
}

TEST(HTMLParser, Attributes) {
  THTMLParser p = Parsed({"<input  name=\"a b\" value=x checked  data-x=\"\" q=\" >"});
  const THTMLTag *tag = p.Tokens.at(0)->AsTag();
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->Name, "INPUT");
  ASSERT_EQ(tag->Params.size(), 5u);
  EXPECT_EQ(tag->Params[0].Name, "NAME");
  EXPECT_EQ(tag->Params[0].Value, "a b");
  EXPECT_EQ(tag->Params[0].Raw, "name=\"a b\"");
  EXPECT_EQ(tag->Params[1].Name, "VALUE");
  EXPECT_EQ(tag->Params[1].Value, "x");
  EXPECT_EQ(tag->Params[2].Name, "CHECKED");
  EXPECT_EQ(tag->Params[2].Value, "");
  EXPECT_EQ(tag->Params[3].Value, "");
  // A lone quote is not a pair; it also leaves the rest of the tag quoted.
  EXPECT_EQ(tag->Params[4].Value, "\" ");

  ASSERT_NE(tag->FindParam("value"), nullptr);
  EXPECT_EQ(tag->FindParam("value")->Value, "x");
  EXPECT_EQ(tag->FindParam("missing"), nullptr);

  // An "=" inside the value belongs to the value.
  THTMLParser q = Parsed({"<a href=\"?a=1&b=2\">"});
  EXPECT_EQ(q.Tokens[0]->AsTag()->FindParam("HREF")->Value, "?a=1&b=2");
}

TEST(HTMLParser, CharacterReferencesInText) {
  // Decoded once only: the second decoding is the text converter's business.
  EXPECT_EQ(TextOf("&amp;lt;"), "&lt;");
  EXPECT_EQ(TextOf("&#65;&#x41;&#X4a;&#097;"), "AAJa");
  EXPECT_EQ(TextOf("&quot;&lt;&gt;&eacute;&Eacute;&yuml;&times;"), "\"<>\xE9\xC9\xFF\xD7");
  // Control codes and the no-break space read as blanks.
  EXPECT_EQ(TextOf("a&nbsp;b&#9;c&#0;d&#160;e"), "a b c d e");
  // Too long, too large, not a number, unknown: all stay as written.
  EXPECT_EQ(TextOf("&#8364; &#300; &#x100; &#1a; &bogus; &Amp; & &#; &#x;"),
            "&#8364; &#300; &#x100; &#1a; &bogus; &Amp; & &#; &#x;");
  // A blank that ends a reference is still text.
  EXPECT_EQ(TextOf("&#65 b"), "A b");
  EXPECT_EQ(TextOf("x&#66"), "xB");
  // An "&" inside a failed reference still starts one of its own.
  EXPECT_EQ(TextOf("&a&amp;"), "&a&");
  // Line feeds are dropped from the decoded text, not from the raw text.
  THTMLParser p;
  p.Lines = {"a\nb"};
  p.Parse();
  EXPECT_EQ(p.Tokens[0]->Raw, "a\nb");
  EXPECT_EQ(p.Tokens[0]->AsText()->Text, "ab");
}

TEST(HTMLParser, HostileInputStaysLinear) {
  // Each of these would take hours if any step rescanned the rest of the
  // input per character.
  const size_t big = 1 << 20;
  THTMLParser unclosed;
  unclosed.Lines = {"<" + std::string(big, 'a')};
  unclosed.Parse();
  ASSERT_EQ(unclosed.Tokens.size(), 1u);
  EXPECT_EQ(unclosed.Tokens[0]->Raw.size(), big);

  THTMLParser ampersands;
  ampersands.Lines = {std::string(big, '&')};
  ampersands.Parse();
  ASSERT_EQ(ampersands.Tokens.size(), 1u);
  EXPECT_EQ(ampersands.Tokens[0]->AsText()->Text.size(), big);

  std::string refs;
  while (refs.size() < big) refs += "&#&x&amp&#1";
  THTMLParser mixed;
  mixed.Lines = {refs + ";"};
  mixed.Parse();
  ASSERT_EQ(mixed.Tokens.size(), 1u);

  THTMLParser manyLines;
  manyLines.Lines.assign(100000, "<a");
  manyLines.Parse();
  ASSERT_EQ(manyLines.Tokens.size(), 1u);
  // "a" from the first line, " <a" from each further one.
  EXPECT_EQ(manyLines.Tokens[0]->Raw.size(), 1 + 99999u * 3);

  std::string quoted = "<a";
  while (quoted.size() < big / 4) quoted += " x=\"\" y";
  THTMLParser params;
  params.Lines = {quoted + ">"};
  params.Parse();
  EXPECT_GT(params.Tokens[0]->AsTag()->Params.size(), big / 32);
}

TEST(FindElement, NamesCompareUpperCased) {
  THTMLParser p;
  p.Parse(
      "<D:multistatus><d:response><d:href>http://h/1</d:href><x>a<b/>b</x></d:response>"
      "<d:response><d:href>http://h/<i>2</i></d:href></d:response></D:multistatus>");
  size_t index = 0;
  THTMLTokenRefs inside;
  ASSERT_TRUE(FindElement("D:href", p.Tokens, index, inside));
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_EQ(inside[0]->Raw, "http://h/1");
  EXPECT_EQ(p.Tokens[index]->AsTag()->Name, "/D:HREF");

  // The search goes on from the closing tag it stopped at.
  std::string text = "keep:";
  EXPECT_EQ(ElementText("d:HREF", p.Tokens, text, index), 2);
  EXPECT_EQ(text, "keep:http://h/2");
  EXPECT_EQ(ElementText("d:href", p.Tokens, text, index), 0);
  EXPECT_EQ(text, "keep:http://h/2");

  index = 0;
  ASSERT_TRUE(FindBetween("x", "/x", p.Tokens, inside, index));
  EXPECT_EQ(inside.size(), 3u);  // a, <b/>, b
  index = 0;
  ASSERT_TRUE(FindElement("d:response", p.Tokens, index, inside));
  EXPECT_EQ(inside.front()->AsTag()->Name, "D:HREF");
}

TEST(FindElement, MissingPartsAreNotFound) {
  THTMLParser p;
  p.Parse("<a>x<b>y");
  size_t index = 0;
  THTMLTokenRefs inside;
  EXPECT_FALSE(FindElement("a", p.Tokens, index, inside));
  // What was collected before running off the end stays.
  EXPECT_EQ(inside.size(), 3u);
  index = 0;
  EXPECT_FALSE(FindElement("zz", p.Tokens, index, inside));
  EXPECT_TRUE(inside.empty());
  index = 99;
  EXPECT_FALSE(FindElement("a", p.Tokens, index, inside));

  // Two tokens or fewer never hold an element.
  THTMLParser tiny;
  tiny.Parse("<a></a>");
  index = 0;
  EXPECT_FALSE(FindElement("a", tiny.Tokens, index, inside));
  std::string text;
  EXPECT_EQ(ElementText("a", tiny.Tokens, text, index), 0);
}

}  // namespace
