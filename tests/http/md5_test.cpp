#include "http/Md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                   "7890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

// Padding changes shape at 55/56/64 bytes and the buffer at block edges: the
// digest must not depend on how the input is cut into Update calls.
TEST(Md5, PiecewiseUpdatesAgreeWithOneShotAcrossBlockEdges) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += char('A' + i % 53);
  for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    const std::string whole = Md5Hex(std::string_view(data).substr(0, len));
    for (size_t piece : {1u, 7u, 63u, 64u, 65u}) {
      TMd5 md5;
      for (size_t at = 0; at < len; at += piece)
        md5.Update(std::string_view(data).substr(at, std::min(piece, len - at)));
      const auto digest = md5.Final();
      std::string hex;
      char buf[3];
      for (auto b : digest) {
        snprintf(buf, sizeof buf, "%02x", b);
        hex += buf;
      }
      EXPECT_EQ(hex, whole) << "length " << len << " piece " << piece;
    }
  }
}

TEST(Md5, HandlesBytesAboveSevenBits) {
  // Signed char must not leak into the word assembly.
  EXPECT_EQ(Md5Hex(std::string("\xff\xfe\x80", 3)), "45a6eeda47eb0845d0095f2f0576e2f7");
  EXPECT_EQ(Md5Hex(std::string("\xff", 1)), "00594fd4f42ba43fc1ca0427a0576295");
}

}  // namespace
