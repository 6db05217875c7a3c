#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "foundation/QuorUtil.h"

namespace {
uint32_t Host(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return htonl(a << 24 | b << 16 | c << 8 | d);
}

TEST(ParseIPv4, ClassicFormsEachPartInItsRange) {
  uint32_t a = 0;
  ASSERT_TRUE(ParseIPv4("192.168.1.20", a));
  EXPECT_EQ(a, Host(192, 168, 1, 20));
  ASSERT_TRUE(ParseIPv4("10.1.513", a));  // last part spans two bytes
  EXPECT_EQ(a, Host(10, 1, 2, 1));
  ASSERT_TRUE(ParseIPv4("127.65535", a));
  EXPECT_EQ(a, Host(127, 0, 255, 255));
  ASSERT_TRUE(ParseIPv4("127.16777215", a));
  EXPECT_EQ(a, Host(127, 255, 255, 255));
  ASSERT_TRUE(ParseIPv4("4294967295", a));
  EXPECT_EQ(a, Host(255, 255, 255, 255));
  ASSERT_TRUE(ParseIPv4("0", a));
  EXPECT_EQ(a, 0u);
  ASSERT_TRUE(ParseIPv4("010.0.0.1", a)) << "leading zeros are decimal, not octal";
  EXPECT_EQ(a, Host(10, 0, 0, 1));
  EXPECT_EQ(IPv4ToText(Host(192, 168, 1, 20)), "192.168.1.20");
}

TEST(ParseIPv4, RejectsOutOfRangeAndMalformedTexts) {
  uint32_t a = 12345;
  for (const char *bad :
       {"256.1.1.1", "1.2.3.256", "1.2.65536", "1.16777216", "4294967296", "99999999999",
        "1.2.3.4.5", "1..2.3", ".1.2.3", "1.2.3.", "", " 1.2.3.4", "1.2.3.4 ", "0x7f.0.0.1",
        "-1.2.3.4", "+1.2.3.4", "a.b.c.d", "localhost", "1.2.3.4\n"}) {
    EXPECT_FALSE(ParseIPv4(bad, a)) << bad;
  }
  EXPECT_EQ(a, 12345u) << "a failed parse leaves the output alone";
  EXPECT_FALSE(ParseIPv4(std::string_view("1.2.3.4\0", 8), a));
}

TEST(LookupHost, DottedTextAndLocalhost) {
  uint32_t a = 99;
  EXPECT_EQ(LookupHost("10.20.30.40", 1000, a), dns_NoError);
  EXPECT_EQ(a, Host(10, 20, 30, 40));
  a = 0;
  EXPECT_EQ(LookupHost("localhost", 5000, a), dns_NoError);
  EXPECT_EQ(ntohl(a) >> 24, 127u) << IPv4ToText(a);
  a = 99;
  EXPECT_EQ(LookupHost("", 1000, a), dns_NoError);
  EXPECT_EQ(a, 0u);
}

TEST(LookupHost, UnknownNameGivesNoErrorWithoutAddress) {
  uint32_t a = 99;
  // ".invalid" never resolves; without a network the resolver may instead
  // give up, which is a time-out or a failure to reach a server, never an
  // address.
  TDNSResult r = LookupHost("no-such-host.invalid", 5000, a);
  EXPECT_TRUE(r == dns_NoError || r == dns_Timeout || r == dns_NoContactServer) << r;
  EXPECT_EQ(a, 0u);
}

TEST(IsLocalAddress, LoopbackAndThisMachineOnly) {
  EXPECT_TRUE(IsLocalAddress("127.0.0.1"));
  EXPECT_TRUE(IsLocalAddress("127.1.2.3"));
  EXPECT_TRUE(IsLocalAddress("127.1"));
  EXPECT_FALSE(IsLocalAddress("1279")) << "0.0.4.255 is no loopback address";
  EXPECT_FALSE(IsLocalAddress("127")) << "0.0.0.127 is no loopback address";
  EXPECT_FALSE(IsLocalAddress("localhost")) << "only dotted texts qualify";
  EXPECT_FALSE(IsLocalAddress("127.0.0.1.1"));
  EXPECT_FALSE(IsLocalAddress("203.0.113.9"));
  EXPECT_FALSE(IsLocalAddress(""));
}
}  // namespace
