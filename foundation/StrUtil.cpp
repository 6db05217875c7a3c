#include "foundation/StrUtil.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

char UpCaseChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
char LowCaseChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char &c : r) c = UpCaseChar(c);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char &c : r) c = LowCaseChar(c);
  return r;
}

int CompareText(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = (unsigned char)UpCaseChar(a[i]);
    unsigned char y = (unsigned char)UpCaseChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

bool StartsText(std::string_view prefix, std::string_view s) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

bool EndsText(std::string_view suffix, std::string_view s) {
  return s.size() >= suffix.size() && SameText(s.substr(s.size() - suffix.size()), suffix);
}

size_t FindText(std::string_view hay, std::string_view needle, size_t from) {
  if (needle.empty()) return from <= hay.size() ? from : std::string::npos;
  if (hay.size() < needle.size()) return std::string::npos;
  const char first = UpCaseChar(needle[0]);
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    if (UpCaseChar(hay[i]) != first) continue;
    if (SameText(hay.substr(i, needle.size()), needle)) return i;
  }
  return std::string::npos;
}

bool ContainsText(std::string_view hay, std::string_view needle) {
  return FindText(hay, needle) != std::string::npos;
}

std::string TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (unsigned char)s[i] <= ' ') ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && (unsigned char)s[n - 1] <= ' ') --n;
  return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n && (unsigned char)s[i] <= ' ') ++i;
  while (n > i && (unsigned char)s[n - 1] <= ' ') --n;
  return std::string(s.substr(i, n - i));
}

int64_t StrToInt64Def(std::string_view s, int64_t def) {
  std::string t = Trim(s);
  std::string_view v = t;
  if (!v.empty() && v[0] == '+') v.remove_prefix(1);
  if (v.empty()) return def;
  int64_t value = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
  if (ec != std::errc() || p != v.data() + v.size()) return def;
  return value;
}

bool TryStrToInt(std::string_view s, int &value) {
  const int64_t sentinel = std::numeric_limits<int64_t>::min();
  int64_t v = StrToInt64Def(s, sentinel);
  if (v == sentinel || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    return false;
  value = int(v);
  return true;
}

int StrToIntDef(std::string_view s, int def) {
  int v;
  return TryStrToInt(s, v) ? v : def;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string r;
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(from, pos);
    if (hit == std::string_view::npos) break;
    r.append(s.substr(pos, hit - pos));
    r.append(to);
    pos = hit + from.size();
  }
  r.append(s.substr(pos));
  return r;
}

std::string ReplaceAllText(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string r;
  size_t pos = 0;
  for (;;) {
    size_t hit = FindText(s, from, pos);
    if (hit == std::string::npos) break;
    r.append(s.substr(pos, hit - pos));
    r.append(to);
    pos = hit + from.size();
  }
  r.append(s.substr(pos));
  return r;
}

TStringList SplitLines(std::string_view text) {
  // Large bodies (a whole message) come through here: the line ends are
  // found with memchr rather than byte by byte, and the list is sized once.
  const char *p = text.data();
  const char *const end = p + text.size();
  auto next = [end](const char *from, char c) {
    const void *at = std::memchr(from, c, size_t(end - from));
    return at ? static_cast<const char *>(at) : end;
  };
  size_t lineEnds = 0;
  for (const char *lf = next(p, '\n'); lf != end; lf = next(lf + 1, '\n')) ++lineEnds;
  TStringList lines;
  lines.reserve(lineEnds + 1);
  const char *cr = next(p, '\r'), *lf = next(p, '\n');
  while (p < end) {
    if (cr < p) cr = next(p, '\r');
    if (lf < p) lf = next(p, '\n');
    const char *eol = std::min(cr, lf);
    lines.emplace_back(p, size_t(eol - p));
    if (eol == end) break;
    p = eol + 1;
    if (*eol == '\r' && p < end && *p == '\n') ++p;
  }
  return lines;
}

std::string JoinLines(const TStringList &lines, std::string_view eol) {
  size_t total = 0;
  for (const auto &l : lines) total += l.size() + eol.size();
  std::string r;
  r.reserve(total);
  for (const auto &l : lines) {
    r.append(l);
    r.append(eol);
  }
  return r;
}
