#include "scraping/MessageAddress.h"

#include "foundation/QuorUtil.h"
#include "foundation/StrUtil.h"

namespace {
constexpr unsigned kAnyCaseGreedy = pf_Caseless | pf_DotAll | pf_Greedy;
}

std::string MessageIdOf(const std::string &address) {
  const std::string match = PatternSearch("msg=[^&'\"]*", address, kAnyCaseGreedy);
  return match.size() > 4 ? match.substr(4) : std::string();
}

int64_t MessageSizeOf(const std::string &address) {
  const std::string match = PatternSearch("len=[^&]*", address, kAnyCaseGreedy);
  if (match.size() <= 4) return 0;
  return StrToInt64Def(Trim(match.substr(4)), 0);
}

bool IsReadAddress(const std::string &address) {
  return address.find("msgread=1") != std::string::npos;
}
