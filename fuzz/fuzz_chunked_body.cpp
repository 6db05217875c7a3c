// An answer body in the chunked transfer coding, as a server sends it. It
// arrives in reads of any size: however the input is cut, the decoder must
// give the same body, stop at the same place or fail the same way, and the
// body must come back from the response exactly as it was put.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/ChunkedDecoder.h"
#include "http/HttpResponse.h"

namespace {

struct TResult {
  std::string Body;
  size_t Used = 0;
  bool Done = false;
  bool Failed = false;
};

TResult Decode(std::string_view wire, size_t piece) {
  TResult result;
  TChunkedDecoder decoder;
  for (size_t at = 0; at < wire.size(); at += piece) {
    const std::string_view part = wire.substr(at, piece);
    const size_t used = decoder.Feed(part, result.Body);
    if (used > part.size()) abort();
    result.Used += used;
    if (used < part.size()) break;
  }
  result.Done = decoder.Done();
  result.Failed = decoder.Failed();
  if (result.Done && result.Failed) abort();
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 100000) return 0;
  // The first byte picks the size of the reads.
  const size_t piece = size_t(data[0]) + 1;
  const std::string_view wire(reinterpret_cast<const char *>(data) + 1, size - 1);
  const TResult whole = Decode(wire, wire.size() + 1);
  const TResult cut = Decode(wire, piece);
  // A failure may be seen one piece later when the input is cut, never a
  // different body before it.
  if (whole.Done != cut.Done || whole.Failed != cut.Failed) abort();
  if (whole.Done && (whole.Body != cut.Body || whole.Used != cut.Used)) abort();
  if (!whole.Failed && cut.Body != whole.Body) abort();
  if (whole.Body.size() > wire.size()) abort();

  THttpResponse response;
  response.MergeHeaders({"HTTP/1.1 200 OK", "Transfer-Encoding: chunked"});
  response.PutBodyText(whole.Body);
  std::string value;
  if (!response.GetHeader("Transfer-Encoding", value) || value != "chunked") abort();
  if (response.GetBody() != SplitLines(whole.Body)) abort();
  if (response.TakeBodyText() != whole.Body) abort();
  return 0;
}
