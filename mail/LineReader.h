#pragma once
// A read position in a line list. Parsing takes headers and bodies off the
// front of a message's lines; erasing from the front of a vector for every
// part would make a message with many parts quadratic, so the parser moves a
// cursor instead and the list is trimmed once at the end.
#include <cstddef>

#include "foundation/StrUtil.h"

struct TLineReader {
  TStringList &Lines;
  size_t Pos = 0;

  explicit TLineReader(TStringList &lines, size_t pos = 0) : Lines(lines), Pos(pos) {}
  bool AtEnd() const { return Pos >= Lines.size(); }
  size_t Remaining() const { return AtEnd() ? 0 : Lines.size() - Pos; }
  // Drops the consumed lines from the list itself.
  void Compact() {
    if (Pos == 0) return;
    if (Pos >= Lines.size()) {
      Lines.clear();
    } else {
      Lines.erase(Lines.begin(), Lines.begin() + std::ptrdiff_t(Pos));
    }
    Pos = 0;
  }
};
