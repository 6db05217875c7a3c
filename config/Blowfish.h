#pragma once
// Blowfish block cipher in ECB mode: 8-byte blocks whose two 32-bit halves
// are read and written big-endian.
#include <cstdint>
#include <string>
#include <string_view>

class TBlowfish {
 public:
  // Keys of 8 to 65 characters are accepted; any other key is treated as
  // empty, and an empty key leaves the initial tables unkeyed. Settings files
  // already on disk were enciphered that way, so this range must stay.
  static constexpr size_t MinKeyLength = 8;
  static constexpr size_t MaxKeyLength = 65;

  explicit TBlowfish(std::string_view key = {});

  void SetKey(std::string_view key);
  // Whether the last key given was taken (false: unkeyed tables in use).
  bool Keyed() const { return FKeyed; }

  void EncipherBlock(uint32_t &left, uint32_t &right) const;
  void DecipherBlock(uint32_t &left, uint32_t &right) const;

  // Whole 8-byte blocks of Data, in place; a trailing partial block is left
  // as it is (the caller pads).
  void EncipherECB(std::string &data) const;
  void DecipherECB(std::string &data) const;

  static const uint32_t InitialP[18];
  static const uint32_t InitialS[4][256];

 private:
  uint32_t F(uint32_t x) const;

  uint32_t FP[18];
  uint32_t FS[4][256];
  bool FKeyed = false;
};
