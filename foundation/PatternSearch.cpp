// Pattern search on PCRE2. The scraper runs the same few patterns over every
// page, so compiled patterns are cached; matching is bounded so that a
// pathological page cannot stall the gateway.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "foundation/QuorUtil.h"

namespace {
// Backtracking budget per match; well above what any real page needs.
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kDepthLimit = 100'000;
constexpr size_t kCacheSize = 64;

struct TCodeDeleter {
  void operator()(pcre2_code *code) const { pcre2_code_free(code); }
};
using TCodePtr = std::shared_ptr<pcre2_code>;

std::mutex gCacheMutex;
std::list<std::pair<std::string, TCodePtr>> gCacheOrder;  // most recent first
std::map<std::string, std::list<std::pair<std::string, TCodePtr>>::iterator> gCacheIndex;

uint32_t CompileOptions(unsigned flags) {
  uint32_t options = 0;
  if (flags & pf_Caseless) options |= PCRE2_CASELESS;
  if (flags & pf_Multiline) options |= PCRE2_MULTILINE;
  if (flags & pf_DotAll) options |= PCRE2_DOTALL;
  if (!(flags & pf_Greedy)) options |= PCRE2_UNGREEDY;
  if (flags & pf_Extended) options |= PCRE2_EXTENDED;
  return options;
}

// Null when the pattern does not compile.
TCodePtr GetCode(const std::string &pattern, unsigned flags) {
  const uint32_t options = CompileOptions(flags);
  std::string key = std::to_string(options) + ':' + pattern;
  std::lock_guard<std::mutex> lock(gCacheMutex);
  auto found = gCacheIndex.find(key);
  if (found != gCacheIndex.end()) {
    gCacheOrder.splice(gCacheOrder.begin(), gCacheOrder, found->second);
    return found->second->second;
  }
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  pcre2_code *raw = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                  options, &errorCode, &errorOffset, nullptr);
  if (!raw) return nullptr;
  pcre2_jit_compile(raw,
                    PCRE2_JIT_COMPLETE);  // falls back to the interpreter when JIT is unavailable
  TCodePtr code(raw, TCodeDeleter());
  gCacheOrder.emplace_front(key, code);
  gCacheIndex[key] = gCacheOrder.begin();
  if (gCacheOrder.size() > kCacheSize) {
    gCacheIndex.erase(gCacheOrder.back().first);
    gCacheOrder.pop_back();
  }
  return code;
}

struct TMatchDataDeleter {
  void operator()(pcre2_match_data *md) const { pcre2_match_data_free(md); }
};
struct TMatchContextDeleter {
  void operator()(pcre2_match_context *mc) const { pcre2_match_context_free(mc); }
};

// Runs the first match; fills ovector pairs. Returns the match count (>0) or
// a value <= 0 when nothing matched or matching failed.
int FirstMatch(const std::string &pattern, const std::string &text, unsigned flags, TCodePtr &code,
               std::unique_ptr<pcre2_match_data, TMatchDataDeleter> &md) {
  code = GetCode(pattern, flags);
  if (!code) return -1;
  md.reset(pcre2_match_data_create_from_pattern(code.get(), nullptr));
  if (!md) return -1;
  std::unique_ptr<pcre2_match_context, TMatchContextDeleter> mc(
      pcre2_match_context_create(nullptr));
  if (!mc) return -1;
  pcre2_set_match_limit(mc.get(), kMatchLimit);
  pcre2_set_depth_limit(mc.get(), kDepthLimit);
  return pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                     md.get(), mc.get());
}
}  // namespace

std::string PatternSearch(const std::string &pattern, const std::string &text, unsigned flags) {
  TCodePtr code;
  std::unique_ptr<pcre2_match_data, TMatchDataDeleter> md;
  int rc = FirstMatch(pattern, text, flags, code, md);
  if (rc <= 0) return std::string();
  const PCRE2_SIZE *ov = pcre2_get_ovector_pointer(md.get());
  auto group = [&](int i) -> std::string {
    if (ov[2 * i] == PCRE2_UNSET || ov[2 * i + 1] < ov[2 * i]) return std::string();
    return text.substr(ov[2 * i], ov[2 * i + 1] - ov[2 * i]);
  };
  std::string result = group(0);
  if (flags & pf_WholeMatchOnly) return result;
  for (int i = 1; i < rc; ++i) {
    std::string g = group(i);
    if (g.empty()) break;
    result += g;
  }
  return result;
}

bool PatternMatchesWhole(const std::string &pattern, const std::string &text, unsigned flags) {
  TCodePtr code;
  std::unique_ptr<pcre2_match_data, TMatchDataDeleter> md;
  int rc = FirstMatch(pattern, text, flags, code, md);
  if (rc <= 0) return false;
  const PCRE2_SIZE *ov = pcre2_get_ovector_pointer(md.get());
  return ov[0] == 0 && ov[1] == text.size();
}
