#pragma once
// MD5 (RFC 1321), needed for HTTP Digest authentication. Written here rather
// than pulled from a crypto library because it is the only digest the
// gateway ever computes.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class TMd5 {
 public:
  TMd5();
  void Update(std::string_view data);
  // Ends the computation; the object must be Reset before it is used again.
  std::array<uint8_t, 16> Final();
  void Reset();

 private:
  void Transform(const uint8_t *block);

  std::array<uint32_t, 4> FState;
  uint64_t FLength;  // bytes fed so far
  std::array<uint8_t, 64> FBuffer;
  size_t FBuffered;
};

// The digest of Data as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view data);
