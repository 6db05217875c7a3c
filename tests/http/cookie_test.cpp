#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "http/HttpCookieList.h"
#include "mail/Rfc822Date.h"

namespace {

std::unique_ptr<THttpCookie> Parsed(const std::string &text) {
  auto cookie = std::make_unique<THttpCookie>();
  if (!cookie->Parse(text)) return nullptr;
  return cookie;
}

TEST(HttpCookie, ParseAcceptsOnlyCompleteCookiesWithKnownAttributes) {
  auto c = Parsed("MSPAuth=ab=c; Domain=.Mail.Example; path=/Cgi; secure");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Name, "MSPAuth");
  EXPECT_EQ(c->Value, "ab=c");
  EXPECT_EQ(c->Domain, ".mail.example");
  EXPECT_EQ(c->Path, "/cgi");
  EXPECT_TRUE(c->Secure);
  EXPECT_EQ(c->Expires, 0);

  auto d = Parsed("a=1; domain=x; expires=");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->Path, "/");  // the default stays when none is given

  for (const char *bad : {
           "a=1; path=/",                      // two pieces only
           "a=1; domain=x; path=/; httponly",  // unknown attribute
           "a=1; domain=x; max-age=3",         // unknown pair
           "a=; domain=x; path=/",             // no value
           "=1; domain=x; path=/",             // no name
           "a=1; path=/; secure",              // no domain
           "a=1; domain=; path=/",             // empty domain
           "",
           ";;",
       })
    EXPECT_FALSE(Parsed(bad)) << bad;
}

TEST(HttpCookie, MatchesByDomainAndPathAnywhereInTheUrl) {
  auto c = Parsed("a=1; domain=x; path=/");
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->Matches("x/"));
  EXPECT_TRUE(c->Matches("mail.X/cgi-bin/hmdata"));
  EXPECT_FALSE(c->Matches("x"));
  EXPECT_FALSE(c->Matches("y/x"));
  c->Domain = "m?il";
  EXPECT_TRUE(c->Matches("host.mail/"));
  EXPECT_TRUE(c->Matches("host.moil/"));
}

TEST(HttpCookie, ExpiredCookiesAreNotSent) {
  auto c = Parsed("a=1; domain=x; path=/");
  ASSERT_TRUE(c);
  c->Expires = Now() - MsToDays(1000);
  EXPECT_FALSE(c->Matches("x/"));
  c->Expires = Now() + 1;
  EXPECT_TRUE(c->Matches("x/"));
}

TEST(HttpCookie, ExpiryDatesAreReadInEitherFormAndShiftedToLocalTime) {
  const char *oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  setenv("TZ", "JST-9", 1);  // nine hours east, no daylight time
  tzset();
  TDateTime expected = 0;
  ASSERT_TRUE(TryEncodeDate(2100, 1, 1, expected));
  expected += HoursToDays(9);
  for (const char *form : {"Fri, 01 Jan 2100 00:00:00 GMT", "Fri, 01-Jan-2100 00:00:00 GMT",
                           "Fri, 01 Jan 2100 01:00:00 +0100"}) {
    auto c = Parsed(std::string("a=1; domain=x; path=/; expires=") + form);
    ASSERT_TRUE(c) << form;
    EXPECT_NEAR(c->Expires, expected, MsToDays(1000)) << form;
    EXPECT_TRUE(c->Matches("x/")) << form;
  }
  auto past = Parsed("a=1; domain=x; expires=Wed, 09-Jun-2021 10:18:14 GMT");
  ASSERT_TRUE(past);
  EXPECT_FALSE(past->Matches("x/"));
  // An expiry nobody can read leaves the cookie to the session.
  auto unreadable = Parsed("a=1; domain=x; expires=someday");
  ASSERT_TRUE(unreadable);
  EXPECT_EQ(unreadable->Expires, 0);
  if (oldTz)
    setenv("TZ", savedTz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(HttpCookieList, NewestFirstAndSameIdentityReplaced) {
  THttpCookieList jar;
  jar.Add(Parsed("a=1; domain=x; path=/"));
  jar.Add(Parsed("b=2; domain=x; path=/deep"));
  jar.Add(Parsed("c=3; domain=other; path=/"));
  EXPECT_EQ(jar.CookiesFor("x/deep/er"), "b=2;  a=1");
  EXPECT_EQ(jar.CookiesFor("x/"), "a=1");
  EXPECT_EQ(jar.CookiesFor("nowhere/"), "");

  jar.Add(Parsed("a=9; domain=x; path=/"));
  EXPECT_EQ(jar.Count(), 3);
  EXPECT_EQ(jar.CookiesFor("x/deep"), "a=9;  b=2");
  // Identity is exact: another path (or case of the name) is another cookie.
  jar.Add(Parsed("A=7; domain=x; path=/"));
  EXPECT_EQ(jar.Count(), 4);
  EXPECT_EQ(jar.CookiesFor("x/"), "A=7;  a=9");
  jar.Add(nullptr);
  EXPECT_EQ(jar.Count(), 4);
  jar.Clear();
  EXPECT_EQ(jar.CookiesFor("x/"), "");
}

}  // namespace
