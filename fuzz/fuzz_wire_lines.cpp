// Holds the fast scan for lines that a message sends unchanged against its
// line-by-line definition, on any text, start and limit.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "protocol/WireLines.h"
#include "tests/protocol/PlainLinesReference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  const std::string_view text(reinterpret_cast<const char *>(data) + 3, size - 3);
  // The first bytes choose the start, the limit and the stuffing.
  const size_t from = data[0] % (text.size() + 1);
  const size_t limit = from + data[1] * 4;
  const bool dotStuff = data[2] & 1;
  const size_t fast = PlainLinesEnd(text, from, limit, dotStuff);
  if (fast != PlainLinesEndByLines(text, from, limit, dotStuff)) std::abort();
  if (fast < from || fast > text.size()) std::abort();
  const size_t end = NextLineEnd(text, from);
  if (end > text.size() || text.substr(from, end - from).find_first_of("\r\n") != std::string_view::npos)
    std::abort();
  return 0;
}
