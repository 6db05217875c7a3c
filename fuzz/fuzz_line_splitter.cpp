// Drives the connection server's line splitting with arbitrary bytes cut
// into arbitrary reads, and checks that the lines depend only on the bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/LineSplitter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the read sizes; the rest is the stream.
  size_t step1 = data[0] % 64 + 1, step2 = data[1] % 7 + 1;
  std::string input =
      WithoutZeroBytes(std::string_view(reinterpret_cast<const char *>(data) + 2, size - 2));

  TLineSplitter whole;
  TStringList wholeLines;
  whole.Append(input, wholeLines);

  TLineSplitter cut;
  TStringList cutLines;
  size_t pos = 0;
  bool flip = false;
  while (pos < input.size()) {
    size_t n = std::min(flip ? step2 : step1, input.size() - pos);
    cut.Append(std::string_view(input).substr(pos, n), cutLines);
    pos += n;
    flip = !flip;
  }
  if (cutLines != wholeLines || cut.Partial() != whole.Partial()) std::abort();
  size_t total = whole.Partial().size();
  for (const std::string &line : wholeLines) {
    if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    total += line.size();
  }
  if (total > input.size()) std::abort();
  if (whole.Partial().find("\r\n") != std::string::npos) std::abort();
  return 0;
}
