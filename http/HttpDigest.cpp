#include "http/HttpDigest.h"

#include <cstdio>

#include "foundation/QuorUtil.h"
#include "foundation/StrUtil.h"
#include "http/Md5.h"

namespace {

// Splits at commas outside double quotes: a qop offer such as
// qop="auth,auth-int" is one item, not two.
TStringList SplitChallenge(const std::string &text) {
  TStringList pieces;
  std::string piece;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      pieces.push_back(Trim(piece));
      piece.clear();
    } else {
      piece += c;
    }
  }
  pieces.push_back(Trim(piece));
  return pieces;
}

std::string Unquote(const std::string &text) {
  std::string value = Trim(text);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return value;
}

// Of an offer like "auth,auth-int" take "auth", the only one whose digest
// does not need the body; otherwise the first offered.
std::string ChooseQop(const std::string &offer) {
  std::string first;
  size_t start = 0;
  while (start <= offer.size()) {
    size_t end = offer.find(',', start);
    if (end == std::string::npos) end = offer.size();
    const std::string item = Trim(offer.substr(start, end - start));
    if (SameText(item, "auth")) return item;
    if (first.empty()) first = item;
    start = end + 1;
  }
  return first;
}

}  // namespace

bool ParseDigestChallenge(const std::string &challenge, TDigestChallenge &out, std::string &error) {
  out = TDigestChallenge();
  if (challenge.empty()) {
    error = "Empty challange string read from server";
    return false;
  }
  bool haveRealm = false, haveNonce = false, haveQop = false;
  TStringList pieces = SplitChallenge(challenge);
  for (size_t i = 0; i < pieces.size(); ++i) {
    std::string piece = pieces[i];
    // The scheme word rides on the first item ("Digest realm=...").
    if (i == 0 && StartsText("Digest ", piece)) piece = Trim(piece.substr(7));
    const size_t eq = piece.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = Trim(piece.substr(0, eq));
    const std::string value = Unquote(piece.substr(eq + 1));
    if (SameText(name, "realm") && !haveRealm) {
      out.Realm = value;
      haveRealm = !value.empty();
    } else if (SameText(name, "nonce") && !haveNonce) {
      out.Nonce = value;
      haveNonce = !value.empty();
    } else if (SameText(name, "qop") && !haveQop) {
      out.Qop = ChooseQop(value);
      haveQop = !out.Qop.empty();
    }
  }
  std::string missing;
  if (!haveRealm) missing += "Realm value could not be read from server challange.  ";
  if (!haveNonce) missing += "Nonce value could not be read from server challange.  ";
  if (!haveQop) missing += "qop value could not be read from server challange.";
  if (!missing.empty()) {
    error = missing;
    return false;
  }
  return true;
}

bool ComputeAuthorization(const std::string &challenge, const std::string &userName,
                          const std::string &password, const std::string &method,
                          const std::string &uri, std::string &clientNonce, int &nonceCount,
                          std::string &value, std::string &error) {
  TDigestChallenge parsed;
  if (!ParseDigestChallenge(challenge, parsed, error)) return false;
  if (clientNonce.empty()) {
    clientNonce = LowerCase(RandomText(32));
    nonceCount = 0;
  }
  ++nonceCount;
  char nc[16];
  std::snprintf(nc, sizeof nc, "%08d", nonceCount);
  const std::string ha1 = Md5Hex(userName + ":" + parsed.Realm + ":" + password);
  const std::string ha2 = Md5Hex(method + ":" + uri);
  const std::string response = Md5Hex(ha1 + ":" + parsed.Nonce + ":" + nc + ":" + clientNonce +
                                      ":" + parsed.Qop + ":" + ha2);
  value = "Digest username=\"" + userName + "\", realm=\"" + parsed.Realm + "\", qop=\"" +
          parsed.Qop + "\", algorithm=\"MD5\", uri=\"" + uri + "\", nonce=\"" + parsed.Nonce +
          "\", nc=" + nc + ", cnonce=\"" + clientNonce + "\", response=\"" + response + "\"";
  return true;
}
