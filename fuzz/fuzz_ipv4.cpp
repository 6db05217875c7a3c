// IPv4 texts arrive from peers and from the user (hosts, the local-only
// check). Parsing must never misread them: whatever parses must print back
// to a text that parses to the same address.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/QuorUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  uint32_t address = 0xDEADBEEF;
  const bool parsed = ParseIPv4(text, address);
  if (!parsed) {
    if (address != 0xDEADBEEF) abort();  // a failed parse leaves its output alone
    if (IsLoopbackAddressText(text)) abort();
    return 0;
  }
  // Only digits and at most three dots can make an address.
  int dots = 0;
  for (char c : text) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      abort();
  }
  if (dots > 3) abort();
  const std::string canonical = IPv4ToText(address);
  uint32_t again = 0;
  if (!ParseIPv4(canonical, again) || again != address) abort();
  if (dots == 3 && canonical.size() > text.size()) abort();
  if (IsLoopbackAddressText(text) != ((ntohl(address) >> 24) == 127)) abort();
  if (IsLoopbackAddressText(canonical) != IsLoopbackAddressText(text)) abort();
  // Wildcard search is run on received texts too: it must agree with itself.
  const int pos = WildcardPos(text.substr(0, 3), text);
  if (text.size() >= 3 && text.substr(0, 3).find_first_not_of("?") != std::string::npos && pos != 1)
    abort();
  return 0;
}
