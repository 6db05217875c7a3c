// Addresses arrive in server answers, redirects and page links. Parsing must
// accept anything, the rebuilt address must be fully escaped, and the query
// must come back unchanged when the rebuilt address is read again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "scraping/QuorUrl.h"

namespace {

bool Unsafe(unsigned char c) {
  return c < 33 || c > 126 || c == '"' || c == '<' || c == '>' || c == '[' || c == ']' ||
         c == '{' || c == '}' || c == '|' || c == '$' || c == '!' || c == '#' || c == '(' ||
         c == ')' || c == '*';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  TQuorUrl url;
  url.Parse(input);
  const std::string full = url.FullUrl();
  for (char c : full)
    if (Unsafe((unsigned char)c)) std::abort();
  const std::string path = url.RequestPath();
  if (path.empty() || path[0] != '/') std::abort();

  TQuorUrl again;
  again.Parse(full);
  if (again.Lines != url.Lines) std::abort();

  if (DecodeUrlText(EncodeUrlText(input)) != input) std::abort();

  std::string address = input;
  SetQueryParam("fuzz", "a b&c", address);
  if (GetQueryParam(address, "fuzz") != "a b&c") std::abort();
  TQuorUrl withParam;
  withParam.Parse(address);
  SetQueryParam("fuzz", "", address);
  TQuorUrl without;
  without.Parse(address);
  if (without.Lines.size() + 1 != withParam.Lines.size()) std::abort();
  return 0;
}
