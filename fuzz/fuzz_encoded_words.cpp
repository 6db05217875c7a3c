// Both encoded-word decoders over arbitrary header text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/EmailDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::string header = DecodeHeaderWords(text);
  if (header.find('\0') != std::string::npos) abort();
  if (text.find("=?") == std::string::npos) {
    // Nothing to decode: only the NULs go.
    std::string plain = text;
    plain.erase(std::remove(plain.begin(), plain.end(), '\0'), plain.end());
    if (header != plain) abort();
  }
  // Decoded words are never longer than they were written.
  if (DecodeFileNameWords(text).size() > text.size()) abort();
  return 0;
}
