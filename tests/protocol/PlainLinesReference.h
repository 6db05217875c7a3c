#pragma once
// PlainLinesEnd worked out line by line, the slow way its definition reads,
// to hold the fast form against.
#include <cstddef>
#include <string_view>

inline size_t PlainLinesEndByLines(std::string_view text, size_t from, size_t limit,
                                   bool dotStuff) {
  if (limit > text.size()) limit = text.size();
  size_t start = from;
  while (start < limit) {
    const size_t end = text.find_first_of("\r\n", start);
    const bool crLf = end != std::string_view::npos && text[end] == '\r' &&
                      end + 1 < text.size() && text[end + 1] == '\n';
    if (!crLf || end + 2 > limit) break;
    if (dotStuff && start != from && text[start] == '.') break;
    start = end + 2;
  }
  return start;
}
