#pragma once
#include <memory>
#include <string>
#include <vector>

#include "http/HttpCookie.h"

// The cookie jar of one session.
class THttpCookieList {
 public:
  // Replaces any stored cookie with the same Name, Domain and Path (exact
  // comparison), then keeps the new one last.
  void Add(std::unique_ptr<THttpCookie> cookie);
  // The Cookie header value for Url: newest first, "name=value" joined by
  // ";  ".
  std::string CookiesFor(const std::string &url) const;
  void Clear() { FCookies.clear(); }
  int Count() const { return int(FCookies.size()); }
  const THttpCookie &operator[](int index) const { return *FCookies[size_t(index)]; }

 private:
  std::vector<std::unique_ptr<THttpCookie>> FCookies;
};
