#include "protocol/LineSplitter.h"

#include <algorithm>
#include <cstring>

size_t TLineSplitter::Append(std::string_view chunk, TStringList &lines) {
  // Only the newly arrived text (and the byte before it, for a CR LF cut in
  // two) can hold a new last CR LF; searching just there keeps a long line
  // that arrives in many pieces linear.
  size_t searchFrom = FPending.empty() ? 0 : FPending.size() - 1;
  FPending.append(chunk.data(), chunk.size());
  size_t last = std::string::npos;
  for (size_t pos = FPending.size(); pos > searchFrom + 1;) {
    --pos;
    if (FPending[pos] == '\n' && FPending[pos - 1] == '\r') {
      last = pos - 1;
      break;
    }
  }
  if (last == std::string::npos) return 0;

  size_t added = 0;
  size_t start = 0;
  const size_t end = last + 2;  // the complete part, its final CR LF included
  const char *data = FPending.data();
  while (start < end) {
    size_t stop = start;
    while (data[stop] != '\r' && data[stop] != '\n') ++stop;  // a line end lies before `end`
    lines.emplace_back(data + start, stop - start);
    ++added;
    start = stop + ((data[stop] == '\r' && stop + 1 < end && data[stop + 1] == '\n') ? 2 : 1);
  }
  FPending.erase(0, end);
  return added;
}

std::string WithoutZeroBytes(std::string_view bytes) {
  std::string out(bytes);
  out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
  return out;
}
