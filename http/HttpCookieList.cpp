#include "http/HttpCookieList.h"

#include <algorithm>

#include "foundation/StrUtil.h"

void THttpCookieList::Add(std::unique_ptr<THttpCookie> cookie) {
  if (!cookie) return;
  std::erase_if(FCookies, [&](const std::unique_ptr<THttpCookie> &old) {
    return old->Name == cookie->Name && old->Domain == cookie->Domain && old->Path == cookie->Path;
  });
  FCookies.push_back(std::move(cookie));
}

std::string THttpCookieList::CookiesFor(const std::string &url) const {
  std::string result;
  for (auto it = FCookies.rbegin(); it != FCookies.rend(); ++it) {
    if (!(*it)->Matches(url)) continue;
    if (!result.empty()) result += ";  ";
    result += (*it)->Name + "=" + (*it)->Value;
  }
  return Trim(result);
}
