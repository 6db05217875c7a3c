// Everything a webmail server sends back passes through these: the header
// block merged into the response, the status line read, headers looked up,
// the body placed, and a Location value turned into the next request's
// target. None may crash, and the body must come back as it was put.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"

namespace {

TStringList SplitAtLf(const std::string &text) {
  TStringList lines;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find('\n', start);
    lines.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return lines;
    start = at + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 100000) return 0;
  const std::string input(reinterpret_cast<const char *>(data), size);
  // Sections: earlier response content | header lines | body lines.
  const size_t first = input.find('\x01');
  const size_t second =
      first == std::string::npos ? std::string::npos : input.find('\x01', first + 1);
  const std::string before = first == std::string::npos ? std::string() : input.substr(0, first);
  const std::string headerText =
      first == std::string::npos ? input : input.substr(first + 1, second - first - 1);
  const std::string bodyText =
      second == std::string::npos ? std::string() : input.substr(second + 1);

  TStringList headers;
  for (auto &line : SplitAtLf(headerText))
    if (!line.empty()) headers.push_back(line);  // the reader never keeps empty header lines

  THttpResponse response;
  if (!before.empty()) response.Lines() = SplitAtLf(before);
  response.MergeHeaders(headers);
  if (!headers.empty() && response.HeaderEnd() < 0) abort();  // headers must stay closed

  const TStringList body = SplitAtLf(bodyText);
  response.PutBody(body);
  if (response.GetBody() != body) abort();

  // Reading the status drops one stray empty first line each time, so the
  // phrase is checked against the code read after it.
  int code = 0;
  response.GetStatusCode(code);
  const std::string text = response.GetStatusText();
  if (!text.empty() && !response.GetStatusCode(code)) abort();
  std::string value;
  for (const char *name : {"Content-Length", "Location", "WWW-Authenticate", "Set-Cookie", ""})
    response.GetHeader(name, value);

  // A Location header becomes the target of the repeated request.
  THttpRequest request;
  request.Add("PROPFIND blah0 HTTP/1.1");
  request.Add("Host: blah1");
  request.Add("");
  request.Add("body");
  const int64_t length = request.BodyLength();
  if (response.GetHeader("Location", value)) request.SetUrl(value);
  for (const auto &line : headers) request.SetUrl(line);
  std::string uri, full;
  request.GetUri(uri);
  request.GetFullUri(full);
  if (request.BodyLength() != length) abort();  // a redirect keeps the body
  return 0;
}
