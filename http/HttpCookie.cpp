#include "http/HttpCookie.h"

#include "foundation/QuorUtil.h"
#include "foundation/StrUtil.h"
#include "http/HttpClock.h"

namespace {

TStringList SplitAt(const std::string &text, char sep) {
  TStringList pieces;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(sep, start);
    pieces.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return pieces;
}

// PENDING: wire to the mail layer's RFC 822 date reader.
double ReadExpiry(const std::string &) { return 0; }

}  // namespace

THttpCookie::THttpCookie() : ReceivedAt(HttpNow()) {}

bool THttpCookie::Parse(const std::string &text) {
  ReceivedAt = HttpNow();
  const TStringList pieces = SplitAt(text, ';');
  if (pieces.size() < 3) return false;
  const size_t eq = pieces[0].find('=');
  Name = Trim(pieces[0].substr(0, eq));
  Value = eq == std::string::npos ? std::string() : pieces[0].substr(eq + 1);
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::string piece = LowerCase(Trim(pieces[i]));
    if (piece == "secure") {
      Secure = true;
      continue;
    }
    const size_t at = piece.find('=');
    if (at == std::string::npos) return false;
    const std::string name = Trim(piece.substr(0, at));
    const std::string value = piece.substr(at + 1);
    if (name == "domain")
      Domain = value;
    else if (name == "path")
      Path = value;
    else if (name == "expires")
      Expires = ReadExpiry(value);
    else
      return false;
  }
  return !Name.empty() && !Value.empty() && !Domain.empty();
}

bool THttpCookie::Matches(const std::string &url) const {
  if (Expires != 0 && HttpNow() >= Expires) return false;
  return WildcardPos(Domain + Path, url) > 0;
}
