#include "scraping/HtmlText.h"

#include "scraping/HTMLParser.h"
#include "scraping/HtmlEntities.h"

namespace {

// A self-closing form ("<br/>") names the same tag as "<br>".
std::string_view BareName(const THTMLTag &tag) {
  std::string_view name = tag.Name;
  if (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  return name;
}

bool BreaksLine(const THTMLTag &tag) {
  std::string_view name = BareName(tag);
  return name == "BR" || name == "P" || name == "BLOCKQUOTE" || name == "DD" || name == "/TITLE" ||
         name == "LI";
}

// Drops every element named Open up to, not including, the next tag named
// Close; an element never closed runs to the end. Only the element's own tag
// starts a removal: a tag that merely mentions the word in an attribute
// (name="description", href="javascript:...") leaves the text after it alone.
THTMLTokenRefs WithoutElements(const THTMLTokenRefs &tokens, std::string_view open,
                               std::string_view close) {
  THTMLTokenRefs kept;
  kept.reserve(tokens.size());
  bool skipping = false;
  for (THTMLToken *token : tokens) {
    const THTMLTag *tag = token->AsTag();
    if (skipping) {
      if (tag && tag->Name == close) {
        skipping = false;
        kept.push_back(token);
      }
      continue;
    }
    if (tag && BareName(*tag) == open) {
      // "<script/>" has no content to skip.
      skipping = tag->Name.back() != '/';
      continue;
    }
    kept.push_back(token);
  }
  return kept;
}

}  // namespace

void HtmlToText(TStringList &lines) {
  THTMLParser parser;
  parser.Lines = std::move(lines);
  parser.Parse();
  lines.clear();

  THTMLTokenRefs tokens;
  tokens.reserve(parser.Tokens.size());
  for (auto &token : parser.Tokens) tokens.push_back(token.get());
  tokens = WithoutElements(tokens, "SCRIPT", "/SCRIPT");
  tokens = WithoutElements(tokens, "STYLE", "/STYLE");

  std::string line;
  for (const THTMLToken *token : tokens) {
    if (const THTMLText *text = token->AsText()) {
      line += text->Text;
    } else if (BreaksLine(*token->AsTag())) {
      DecodeEntities(line);
      lines.push_back(std::move(line));
      line.clear();
    }
  }
  if (!line.empty()) {
    DecodeEntities(line);
    lines.push_back(std::move(line));
  }
}

void HtmlToText(std::string &text) {
  TStringList lines = SplitLines(text);
  HtmlToText(lines);
  text = JoinLines(lines);
}

void HtmlToText(std::stringstream &stream) {
  std::string text = stream.str();
  HtmlToText(text);
  stream.str(text);
  stream.clear();
  stream.seekg(0);
  stream.seekp(0, std::ios::end);
}
