#include "http/ChunkedDecoder.h"

#include <algorithm>

namespace {

// A size line is a few hex digits and perhaps extensions; trailers are a
// few header lines. Anything longer is not a chunked body.
constexpr size_t kMaxLineBytes = 4096;
constexpr size_t kMaxTrailerBytes = 65536;
// More than any message: a size this large is garbage, and it must not
// overflow while it is read.
constexpr uint64_t kMaxChunkBytes = uint64_t(1) << 40;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void TChunkedDecoder::Fail(const char *error) {
  FState = TState::Failed;
  FError = error;
}

void TChunkedDecoder::TakeLine(std::string_view line) {
  if (FState == TState::Trailer) {
    if (line.empty()) FState = TState::Done;
    return;
  }
  // Size [; extensions]; blanks before the semicolon are tolerated.
  size_t i = 0;
  uint64_t size = 0;
  for (; i < line.size(); ++i) {
    const int digit = HexValue(line[i]);
    if (digit < 0) break;
    size = size * 16 + uint64_t(digit);
    if (size > kMaxChunkBytes) return Fail("Chunk size too large");
  }
  if (i == 0) return Fail("Bad chunk size line");
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i < line.size() && line[i] != ';') return Fail("Bad chunk size line");
  FLeft = size;
  FState = size == 0 ? TState::Trailer : TState::Data;
}

size_t TChunkedDecoder::Feed(std::string_view data, std::string &body) {
  size_t pos = 0;
  while (pos < data.size()) {
    switch (FState) {
      case TState::Done:
      case TState::Failed:
        return pos;
      case TState::Data: {
        const size_t take = size_t(std::min<uint64_t>(FLeft, data.size() - pos));
        body.append(data.substr(pos, take));
        pos += take;
        FLeft -= take;
        if (FLeft == 0) FState = TState::DataEnd;
        break;
      }
      case TState::DataEnd:
      case TState::Size:
      case TState::Trailer: {
        const size_t lf = data.find('\n', pos);
        const size_t end = lf == std::string_view::npos ? data.size() : lf;
        FLine.append(data.substr(pos, end - pos));
        if (FState == TState::Trailer) FTrailerBytes += end - pos;
        if (FLine.size() > kMaxLineBytes || FTrailerBytes > kMaxTrailerBytes) {
          Fail("Chunk line too long");
          return pos;
        }
        if (lf == std::string_view::npos) return data.size();
        pos = lf + 1;
        std::string_view line(FLine);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (FState == TState::DataEnd) {
          // The CR LF that closes a chunk's data, and nothing else.
          if (!line.empty()) {
            Fail("Chunk data longer than its size");
            return pos;
          }
          FState = TState::Size;
        } else {
          TakeLine(line);
        }
        FLine.clear();
        break;
      }
    }
  }
  return pos;
}
