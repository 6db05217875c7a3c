#pragma once
// A read position in a line list. Parsing takes headers and bodies off the
// front of a message's lines; erasing from the front for every part would
// make a message with many parts quadratic, so the parser moves a cursor
// instead and the list is trimmed once at the end.
#include <cstddef>

#include "mail/LineBlock.h"

struct TLineReader {
  TLineBlock &Lines;
  size_t Pos = 0;

  explicit TLineReader(TLineBlock &lines, size_t pos = 0) : Lines(lines), Pos(pos) {}
  bool AtEnd() const { return Pos >= Lines.Count(); }
  size_t Remaining() const { return AtEnd() ? 0 : Lines.Count() - Pos; }
  // Drops the consumed lines from the list itself.
  void Compact() {
    Lines.EraseFront(Pos);
    Pos = 0;
  }
};
