// Reads arbitrary lines as SMTP commands in every conversation state.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/StrUtil.h"
#include "protocol/ESMTPCommand.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  uint8_t state = data[0] % 9;
  std::string line(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::string arg;
  TESMTPCommand command = ParseESMTPLine(state, line, arg);
  if (state == ss_Data) {
    if (arg != line) std::abort();  // message text is never altered here
    if ((command == sc_EndOfText) != (line == ".")) std::abort();
    return 0;
  }
  if (!arg.empty() && (static_cast<unsigned char>(arg.front()) <= ' ' ||
                       static_cast<unsigned char>(arg.back()) <= ' '))
    std::abort();
  if (arg.size() > line.size()) std::abort();
  if (command == sc_Unknown && arg != Trim(line)) std::abort();
  if ((state == ss_AwaitPassword) != (command == sc_Password)) std::abort();
  return 0;
}
