#include "config/ValueScrambler.h"

#include <array>
#include <cstdint>

#include "foundation/QuorUtil.h"

namespace {

// Substitution over the printable characters. The blank keeps its place so
// that no scrambled text gains a blank at either end, which the settings
// file would trim away on the next load; the other 94 are permuted.
constexpr int kPrintable = 95;
constexpr int kPermuted = kPrintable - 1;
constexpr std::array<uint8_t, kPermuted> kForward = {
    66, 28, 85, 12, 11, 93, 61, 50, 63, 54, 58, 2,  9,  92, 49, 56, 57, 37, 44, 31, 34, 20, 80, 15,
    21, 22, 65, 76, 67, 35, 27, 5,  43, 4,  64, 24, 0,  32, 7,  23, 14, 74, 45, 88, 36, 47, 71, 6,
    59, 87, 83, 53, 70, 41, 78, 86, 17, 46, 72, 79, 52, 8,  73, 33, 62, 60, 48, 30, 69, 26, 16, 55,
    51, 25, 1,  29, 81, 68, 91, 40, 75, 77, 84, 3,  10, 38, 39, 42, 82, 90, 18, 89, 13, 19,
};

constexpr std::array<uint8_t, kPermuted> MakeInverse() {
  std::array<uint8_t, kPermuted> inverse{};
  for (int i = 0; i < kPermuted; ++i) inverse[kForward[i]] = static_cast<uint8_t>(i);
  return inverse;
}
constexpr std::array<uint8_t, kPermuted> kInverse = MakeInverse();

// The running 5-bit value: starts from the length, turns with every
// character whatever it is, so both directions see the same sequence.
uint32_t NextTurn(uint32_t turn) { return (turn * 5 + 1) & 31; }

std::string Substitute(const std::string &text, bool forward) {
  std::string out = text;
  uint32_t turn = static_cast<uint32_t>(text.size()) & 31;
  for (char &ch : out) {
    const int c = static_cast<unsigned char>(ch);
    if (c > ' ' && c < ' ' + kPrintable) {
      const int k = c - ' ' - 1;
      const int t = static_cast<int>(turn);
      const int mapped = forward ? kForward[(k + t) % kPermuted]
                                 : (kInverse[k] - t % kPermuted + kPermuted) % kPermuted;
      ch = static_cast<char>(' ' + 1 + mapped);
    }
    turn = NextTurn(turn);
  }
  return out;
}

// Byte stream whitened with a fixed xorshift key stream; its own inverse.
std::string Whiten(const std::string &text) {
  std::string out = text;
  uint32_t state = 0x9E3779B9u;
  for (char &ch : out) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    ch = static_cast<char>(static_cast<unsigned char>(ch) ^ (state >> 24));
  }
  return out;
}

constexpr const char *kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string EncodeBase64(const std::string &data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const uint32_t v = (uint32_t{static_cast<uint8_t>(data[i])} << 16) |
                       (uint32_t{static_cast<uint8_t>(data[i + 1])} << 8) |
                       static_cast<uint8_t>(data[i + 2]);
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  const size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t v = uint32_t{static_cast<uint8_t>(data[i])} << 16;
    if (rest == 2) v |= uint32_t{static_cast<uint8_t>(data[i + 1])} << 8;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += rest == 2 ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool DecodeBase64(const std::string &text, std::string &out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  uint32_t v = 0;
  int bits = 0;
  size_t pad = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '=') {
      // Padding only at the very end, at most two.
      if (i + 2 < text.size() || ++pad > 2) return false;
      continue;
    }
    if (pad) return false;
    const char *p = std::char_traits<char>::find(kBase64, 64, c);
    if (!p || c == '\0') return false;
    v = (v << 6) | static_cast<uint32_t>(p - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((v >> bits) & 0xff);
    }
  }
  return true;
}

}  // namespace

std::string ScrambleValue(const std::string &value) {
  std::string text = Substitute(RandomText(2) + value, true);
  // Short texts and texts that already begin with the marker get it, so the
  // reverse step can tell whether to take it off.
  if (text.size() < 3 || text.compare(0, 2, "..") == 0) text.insert(0, "..");
  return Substitute(EncodeBase64(Whiten(text)), true);
}

std::string UnscrambleValue(const std::string &text) {
  std::string whitened;
  if (!DecodeBase64(Substitute(text, false), whitened)) return {};
  std::string inner = Whiten(whitened);
  if (inner.compare(0, 2, "..") == 0) inner.erase(0, 2);
  inner = Substitute(inner, false);
  if (inner.size() < 2) return {};
  return inner.substr(2);
}
