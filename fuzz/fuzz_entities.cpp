// Reference decoding runs over every line of converted mail text. It must
// stay bounded per character, never lengthen the text, and undo escaping.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "scraping/HtmlEntities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);

  std::string decoded = input;
  bool changed = DecodeEntities(decoded);
  if (changed != (decoded != input) || decoded.size() > input.size()) std::abort();

  std::string escaped = input;
  HtmlEscape(escaped);
  std::string back = escaped;
  DecodeEntities(back);
  if (back != input) std::abort();

  char ch = 0;
  if (DecodeEntity(input.substr(0, 12), ch) && ch == 0) std::abort();

  TStringList lines = {input};
  TextLinesToHtml(lines);
  if (lines[0].size() < 4 || lines[0].compare(lines[0].size() - 4, 4, "<br>") != 0) std::abort();
  return 0;
}
