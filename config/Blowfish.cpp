#include "config/Blowfish.h"

#include <cstring>

TBlowfish::TBlowfish(std::string_view key) { SetKey(key); }

void TBlowfish::SetKey(std::string_view key) {
  std::memcpy(FP, InitialP, sizeof FP);
  std::memcpy(FS, InitialS, sizeof FS);
  FKeyed = key.size() >= MinKeyLength && key.size() <= MaxKeyLength;
  if (!FKeyed) return;

  size_t pos = 0;
  for (uint32_t &p : FP) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
      word = (word << 8) | static_cast<uint8_t>(key[pos]);
      pos = (pos + 1) % key.size();
    }
    p ^= word;
  }
  uint32_t left = 0, right = 0;
  for (int i = 0; i < 18; i += 2) {
    EncipherBlock(left, right);
    FP[i] = left;
    FP[i + 1] = right;
  }
  for (auto &box : FS) {
    for (int i = 0; i < 256; i += 2) {
      EncipherBlock(left, right);
      box[i] = left;
      box[i + 1] = right;
    }
  }
}

uint32_t TBlowfish::F(uint32_t x) const {
  return ((FS[0][x >> 24] + FS[1][(x >> 16) & 0xff]) ^ FS[2][(x >> 8) & 0xff]) + FS[3][x & 0xff];
}

void TBlowfish::EncipherBlock(uint32_t &left, uint32_t &right) const {
  uint32_t l = left, r = right;
  for (int i = 0; i < 16; i += 2) {
    l ^= FP[i];
    r ^= F(l);
    r ^= FP[i + 1];
    l ^= F(r);
  }
  l ^= FP[16];
  r ^= FP[17];
  left = r;
  right = l;
}

void TBlowfish::DecipherBlock(uint32_t &left, uint32_t &right) const {
  uint32_t l = left, r = right;
  for (int i = 17; i > 1; i -= 2) {
    l ^= FP[i];
    r ^= F(l);
    r ^= FP[i - 1];
    l ^= F(r);
  }
  l ^= FP[1];
  r ^= FP[0];
  left = r;
  right = l;
}

namespace {

uint32_t LoadBigEndian(const char *p) {
  const auto *b = reinterpret_cast<const uint8_t *>(p);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

void StoreBigEndian(char *p, uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

template <typename Op>
void ForEachBlock(std::string &data, Op op) {
  for (size_t i = 0; i + 8 <= data.size(); i += 8) {
    uint32_t l = LoadBigEndian(&data[i]), r = LoadBigEndian(&data[i + 4]);
    op(l, r);
    StoreBigEndian(&data[i], l);
    StoreBigEndian(&data[i + 4], r);
  }
}

}  // namespace

void TBlowfish::EncipherECB(std::string &data) const {
  ForEachBlock(data, [this](uint32_t &l, uint32_t &r) { EncipherBlock(l, r); });
}

void TBlowfish::DecipherECB(std::string &data) const {
  ForEachBlock(data, [this](uint32_t &l, uint32_t &r) { DecipherBlock(l, r); });
}
