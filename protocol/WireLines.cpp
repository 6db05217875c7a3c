#include "protocol/WireLines.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The byte-by-byte form of PlainLinesEnd, resumed at K (no earlier than
// From) with LineStart the start of the line K lies in.
size_t PlainLinesFrom(std::string_view text, size_t k, size_t lineStart, size_t from, size_t limit,
                      bool dotStuff) {
  const size_t size = text.size();
  for (; k < limit; ++k) {
    const char c = text[k];
    if (c == '\r') {
      if (k + 1 >= size || text[k + 1] != '\n') break;
    } else if (c == '\n') {
      if (k == from || text[k - 1] != '\r') break;
      lineStart = k + 1;
      if (dotStuff && lineStart < size && text[lineStart] == '.') break;
    }
  }
  return lineStart;
}

}  // namespace

size_t NextLineEnd(std::string_view text, size_t from) {
  size_t i = from;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text.data() + i));
    const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
    if (hits != 0) return i + size_t(__builtin_ctz(unsigned(hits)));
  }
#endif
  for (; i < text.size(); ++i)
    if (text[i] == '\r' || text[i] == '\n') return i;
  return text.size();
}

size_t PlainLinesEnd(std::string_view text, size_t from, size_t limit, bool dotStuff) {
  const size_t size = text.size();
  limit = std::min(limit, size);
  if (from >= limit) return from;
  // The byte at From is looked at alone: the one before it ended another
  // line, so it cannot pair with a LF at From.
  const char first = text[from];
  if (first == '\n') return from;
  if (first == '\r' && (from + 1 >= size || text[from + 1] != '\n')) return from;
  size_t k = from + 1;
#if defined(__SSE2__)
  // Sixteen positions a step, each checked against the bytes either side
  // of it, so a clean text costs no branch per line: a step stops only on
  // a lone CR, a lone LF, or (with stuffing) a LF before a ".". The step
  // reads one byte past its sixteen, hence the bound on Size.
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), dot = _mm_set1_epi8('.');
  const char *data = text.data();
  for (; k + 16 <= limit && k + 17 <= size; k += 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + k));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + k - 1));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + k + 1));
    const __m128i isLf = _mm_cmpeq_epi8(here, lf);
    __m128i bad = _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(after, lf), _mm_cmpeq_epi8(here, cr)),
                               _mm_andnot_si128(_mm_cmpeq_epi8(before, cr), isLf));
    if (dotStuff) bad = _mm_or_si128(bad, _mm_and_si128(isLf, _mm_cmpeq_epi8(after, dot)));
    if (_mm_movemask_epi8(bad) != 0) break;
  }
#endif
  // Everything before K is plain, so the line K lies in starts after the
  // last LF before it.
  const void *lastLf = memrchr(text.data() + from, '\n', k - from);
  const size_t lineStart =
      lastLf ? size_t(static_cast<const char *>(lastLf) - text.data()) + 1 : from;
  return PlainLinesFrom(text, k, lineStart, from, limit, dotStuff);
}
