// Set-Cookie values come straight from the server. Parse must accept only
// complete cookies, and whatever it accepts must be safe to match and send.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "http/HttpCookieList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 20000) return 0;
  const std::string input(reinterpret_cast<const char *>(data), size);
  const size_t split = input.find('\n');
  const std::string text = input.substr(0, split);
  const std::string url = split == std::string::npos ? "host/path" : input.substr(split + 1);

  THttpCookieList jar;
  for (int round = 0; round < 2; ++round) {
    auto cookie = std::make_unique<THttpCookie>();
    if (!cookie->Parse(text)) return 0;
    if (cookie->Name.empty() || cookie->Value.empty() || cookie->Domain.empty()) abort();
    cookie->Matches(url);
    jar.Add(std::move(cookie));
  }
  // The same cookie twice replaces itself.
  if (jar.Count() != 1) abort();
  const std::string sent = jar.CookiesFor(url);
  if (jar[0].Matches(url) && sent.find(jar[0].Name) == std::string::npos) abort();
  return 0;
}
