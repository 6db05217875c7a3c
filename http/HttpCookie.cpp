#include "http/HttpCookie.h"

#include <cctype>

#include "foundation/QuorUtil.h"
#include "foundation/StrUtil.h"
#include "mail/Rfc822Date.h"

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

// Expiry dates come as RFC 822 dates, often in the older "09-Jun-2021" form,
// and usually in GMT; the jar compares them with the local clock.
double ReadExpiry(const std::string &text) {
  std::string value = text;
  for (size_t i = 1; i + 1 < value.size(); ++i) {
    const bool between = std::isalnum(static_cast<unsigned char>(value[i - 1])) &&
                         std::isalnum(static_cast<unsigned char>(value[i + 1]));
    if (value[i] == '-' && between) value[i] = ' ';
  }
  TDateTime expires = 0;
  double zone = 0;
  const uint16_t result = ParseRfc822Date(value, expires, zone);
  if ((result & rd_BadDate) == rd_BadDate || (result & rd_Empty) == rd_Empty) return 0;
  const bool zoneKnown =
      (result & rd_ZoneUnknown) != rd_ZoneUnknown && (result & rd_NoZone) != rd_NoZone;
  if (zoneKnown) expires += LocalZoneOffset() - zone;
  // A date that reads as the epoch itself would mean "never expires".
  return expires == 0 ? MsToDays(1) : expires;
}

}  // namespace

THttpCookie::THttpCookie() : ReceivedAt(Now()) {}

bool THttpCookie::Parse(const std::string &text) {
  ReceivedAt = Now();
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
  if (Expires != 0 && Now() >= Expires) return false;
  return WildcardPos(Domain + Path, url) > 0;
}
