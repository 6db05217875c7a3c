#pragma once
#include <string>

// One cookie from a Set-Cookie header. Date-times are local day counts (see
// mail/Rfc822Date.h); Expires 0 means the cookie never expires.
class THttpCookie {
 public:
  THttpCookie();
  // Reads the text after "Set-Cookie:". Only cookies that name a domain and
  // carry nothing but secure, domain, path and expires are accepted.
  bool Parse(const std::string &text);
  // Whether the cookie is to be sent to Url ("host/path..."): Domain+Path
  // found anywhere in it, ignoring case, "?" matching any one character.
  bool Matches(const std::string &url) const;

  std::string Name;
  std::string Value;
  std::string Domain;
  std::string Path = "/";
  double Expires = 0;
  double ReceivedAt = 0;
  bool Secure = false;
};
