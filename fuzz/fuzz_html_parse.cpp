// Every HTTPMail answer passes through the tokenizer: whatever the bytes, it
// must finish, and its tokens must give back the input (line ends dropped, a
// line end inside a begun tag counted as one blank).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "scraping/HTMLParser.h"

namespace {

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
      out += c;
      if (!inTag && c == '<') {
        inTag = true;
        tagLength = 0;
      } else if (inTag) {
        if (c == '>')
          inTag = false;
        else
          ++tagLength;
      }
    }
  }
  if (inTag) {
    if (tagLength == 0)
      out.pop_back();
    else
      out += '>';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  THTMLParser parser;
  parser.Parse(input);

  std::string rebuilt;
  bool lastWasText = false;
  for (const auto &token : parser.Tokens) {
    if (const THTMLTag *tag = token->AsTag()) {
      rebuilt += '<';
      rebuilt += tag->Raw;
      rebuilt += '>';
      lastWasText = false;
      for (const THTMLParam &p : tag->Params)
        if (p.Raw.empty() || p.Name.size() > p.Raw.size()) std::abort();
    } else {
      const THTMLText *text = token->AsText();
      if (text->Raw.empty() || lastWasText) std::abort();
      // Decoding never lengthens the text.
      if (text->Text.size() > text->Raw.size()) std::abort();
      rebuilt += text->Raw;
      lastWasText = true;
    }
  }
  if (rebuilt != ExpectedJoin(parser.Lines)) std::abort();

  // The element searches walk the same list without running past it.
  size_t index = 0;
  THTMLTokenRefs inside;
  std::string text;
  while (FindElement("a", parser.Tokens, index, inside)) ++index;
  index = 0;
  while (ElementText("d:href", parser.Tokens, text, index) > 0) ++index;
  return 0;
}
