// HTML message bodies come from anyone: converting them to text must finish
// on any bytes and never leave a line break inside a line.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "scraping/HtmlText.h"
#include "scraping/SimpleHtml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  TStringList lines = SplitLines(input);
  HtmlToText(lines);

  std::string text = input;
  HtmlToText(text);
  if (text != JoinLines(lines)) std::abort();

  std::stringstream stream;
  stream << input;
  HtmlToText(stream);
  if (stream.str() != text) std::abort();

  // The note lines render through the same conversion, form by form.
  TSimpleHtml notes;
  for (size_t i = 0; i < size && i < 64; ++i)
    notes.AddLine(input.substr(i, 8), int(data[i]) - 1, data[i] & 1, data[i] % 3);
  notes.KeepForm(size % 3);
  for (size_t i = 0; i < notes.Count(); ++i)
    if (notes.Form(i) != 0 && size % 3 != 0 && notes.Form(i) != int(size % 3)) std::abort();
  TStringList rendered;
  notes.ToText(rendered);
  return 0;
}
