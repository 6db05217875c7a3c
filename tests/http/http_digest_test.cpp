#include <gtest/gtest.h>

#include "http/HttpDigest.h"
#include "http/Md5.h"

namespace {

const std::string kRfcChallenge =
    "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";

TEST(HttpDigest, AgreesWithTheRfc2617WorkedExample) {
  std::string cnonce = "0a4f113b", value, error;
  int nc = 0;
  ASSERT_TRUE(ComputeAuthorization(kRfcChallenge, "Mufasa", "Circle Of Life", "GET",
                                   "/dir/index.html", cnonce, nc, value, error))
      << error;
  EXPECT_EQ(nc, 1);
  EXPECT_EQ(value,
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", qop=\"auth\", "
            "algorithm=\"MD5\", uri=\"/dir/index.html\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", nc=00000001, cnonce=\"0a4f113b\", "
            "response=\"6629fae49393a05397450978507c4ef1\"");
}

TEST(HttpDigest, ClientNonceIsDrawnOnceAndCountRises) {
  std::string cnonce, value, error;
  int nc = 41;
  ASSERT_TRUE(ComputeAuthorization("Digest realm=r, nonce=\"n\", qop=auth", "u", "p", "PROPFIND",
                                   "/x", cnonce, nc, value, error));
  ASSERT_EQ(cnonce.size(), 32u);
  for (char c : cnonce) EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) << c;
  EXPECT_EQ(nc, 1);
  const std::string first = cnonce;
  for (int i = 0; i < 9; ++i)
    ASSERT_TRUE(ComputeAuthorization("Digest realm=r, nonce=\"n\", qop=auth", "u", "p", "PROPFIND",
                                     "/x", cnonce, nc, value, error));
  EXPECT_EQ(cnonce, first);
  EXPECT_NE(value.find(", nc=00000010, "), std::string::npos) << value;
  // The value is what a server recomputes from the same pieces.
  const std::string ha1 = Md5Hex("u:r:p"), ha2 = Md5Hex("PROPFIND:/x");
  EXPECT_NE(value.find(Md5Hex(ha1 + ":n:00000010:" + first + ":auth:" + ha2)), std::string::npos);
}

TEST(HttpDigest, MissingPiecesAreNamedInOrder) {
  TDigestChallenge c;
  std::string error;
  EXPECT_FALSE(ParseDigestChallenge("", c, error));
  EXPECT_EQ(error, "Empty challange string read from server");
  EXPECT_FALSE(ParseDigestChallenge("Digest realm=\"x\"", c, error));
  EXPECT_EQ(error,
            "Nonce value could not be read from server challange.  "
            "qop value could not be read from server challange.");
  EXPECT_FALSE(ParseDigestChallenge("Digest nonce=\"\", qop=", c, error));
  EXPECT_EQ(error,
            "Realm value could not be read from server challange.  "
            "Nonce value could not be read from server challange.  "
            "qop value could not be read from server challange.");
  // Order of the items and spacing do not matter; a quoted comma does not
  // split an item.
  ASSERT_TRUE(
      ParseDigestChallenge("Digest   nonce=abc ,QOP=\"auth-int,auth\",realm=\"a,b\"", c, error))
      << error;
  EXPECT_EQ(c.Realm, "a,b");
  EXPECT_EQ(c.Nonce, "abc");
  EXPECT_EQ(c.Qop, "auth");
}

}  // namespace
