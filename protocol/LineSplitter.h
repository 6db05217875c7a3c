#pragma once
// Turns a stream of received bytes into lines without line ends. A CR LF,
// a lone CR or a lone LF each end a line, but lines are released only up to
// the last CR LF received: text after it waits, so a client's final line is
// never handed on before its proper line end arrives. The result depends
// only on the bytes received, never on how the network cut them into reads.
#include <cstddef>
#include <string>
#include <string_view>

#include "foundation/StrUtil.h"

class TLineSplitter {
 public:
  // Appends the completed lines to Lines; returns how many were added.
  size_t Append(std::string_view chunk, TStringList &lines);
  // Received text not yet released as lines.
  const std::string &Partial() const { return FPending; }
  void Clear() { FPending.clear(); }

 private:
  std::string FPending;
};

// Zero bytes cannot be part of a protocol line; they are dropped one by one
// so that the rest of the read, line ends included, is kept.
std::string WithoutZeroBytes(std::string_view bytes);
