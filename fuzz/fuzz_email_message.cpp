// Whole messages from outside: parse, write back in both forms, and check
// that a written message reads back to the same text.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "mail/EmailMsg.h"

namespace {

std::string ParseAndWrite(const std::string &text, bool full) {
  TEmailMsg msg;
  msg.SetSaveOnDestroy(false);
  msg.SetAddBodyIfMissing(false);
  std::istringstream in(text);
  msg.LoadFromStream(in);
  msg.Header();
  std::string out;
  msg.GetRawMailText(out, full);
  TStringList lines;
  msg.GetRawMail(lines, full);
  if (JoinLines(lines) != out) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  ParseAndWrite(text, false);
  std::string once = ParseAndWrite(text, true);
  std::string twice = ParseAndWrite(once, true);
  if (twice != ParseAndWrite(twice, true)) std::abort();
  return 0;
}
