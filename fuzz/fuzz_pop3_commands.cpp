// Drives the POP3 command parser and the text shaping of RETR/TOP with
// arbitrary client bytes: one line per input line, checked for the
// invariants the handlers rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/Pop3Command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  TStringList lines = SplitLines(text);
  for (const std::string &line : lines) {
    TPop3Command cmd = ParsePop3Command(line);
    if (cmd.Arg.size() > line.size()) abort();
    if (cmd.Kind == pc_Top) {
      int n = 0, k = 0;
      ParseTopArguments(cmd.Arg, n, k);
    } else {
      (void)Pop3MessageNumber(cmd.Arg);
    }
  }
  // The same lines as a message: stuffing must leave no line that a client
  // would read as the end, and TOP must keep the header intact.
  TStringList top = lines;
  int k = size > 0 ? data[0] % 8 : 0;
  CutToTop(top, k);
  if (top.size() > lines.size()) abort();
  for (size_t i = 0; i < top.size(); ++i)
    if (top[i] != lines[i]) abort();
  // TOP on the message held as one text keeps the same lines, ending on a
  // line end.
  const std::string_view topText = TopOfText(text, k);
  if (SplitLines(topText) != top) abort();
  if (!topText.empty() && topText.size() < text.size() && topText.back() == '\r' &&
      text[topText.size()] == '\n')
    abort();
  StuffForPop3(lines);
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i] == ".") abort();
  if (lines.back() != ".") abort();
  return 0;
}
