// Base64 is the bulk of every attachment, so decoding is table-driven: four
// lookups OR-ed together yield three bytes, and one bit of the result says
// whether any of the four characters fell outside the alphabet. Only then
// does the slow path look at characters one by one.
#include <array>
#include <cstdint>
#include <cstring>

#include "mail/EmailDecoders.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t kBad = 0x01000000;

constexpr int SextetOf(unsigned char c) {
  for (int i = 0; i < 64; ++i)
    if ((unsigned char)kAlphabet[i] == c) return i;
  return -1;
}

// Table N holds each character's six bits already shifted to where they land
// in the 24-bit group of the N-th character, or kBad.
struct TDecodeTables {
  std::array<uint32_t, 256> t[4];
  constexpr TDecodeTables() : t{} {
    for (int c = 0; c < 256; ++c) {
      int v = SextetOf((unsigned char)c);
      for (int n = 0; n < 4; ++n) t[n][c] = v < 0 ? kBad : uint32_t(v) << (18 - 6 * n);
    }
  }
};
constexpr TDecodeTables kTables;

// Characters carried between lines: a group may straddle a line break.
struct TGroup {
  unsigned char c[4];
  int count = 0;
};

inline bool InGroupAlphabet(unsigned char c) { return c == '=' || SextetOf(c) >= 0; }

// A completed group: "=" in the first place yields nothing, in the third one
// byte, in the fourth two; anything else counts its bits with "=" as zero.
inline char *EmitGroup(const TGroup &g, char *out) {
  if (g.c[0] == '=') return out;
  uint32_t v = 0;
  for (int n = 0; n < 4; ++n) {
    uint32_t x = kTables.t[n][g.c[n]];
    if (!(x & kBad)) v |= x;
  }
  int count = g.c[2] == '=' ? 1 : g.c[3] == '=' ? 2 : 3;
  *out++ = char(v >> 16);
  if (count > 1) *out++ = char(v >> 8);
  if (count > 2) *out++ = char(v);
  return out;
}

// Decodes N characters at P, carrying an incomplete group in G. Out must
// have room for (G.count + N) / 4 * 3 bytes.
char *DecodeChunk(const unsigned char *p, size_t n, TGroup &g, char *out) {
  const auto &t = kTables.t;
  size_t i = 0;
  while (i < n) {
    if (g.count == 0) {
      while (i + 4 <= n) {
        uint32_t v = t[0][p[i]] | t[1][p[i + 1]] | t[2][p[i + 2]] | t[3][p[i + 3]];
        if (v & kBad) break;
        out[0] = char(v >> 16);
        out[1] = char(v >> 8);
        out[2] = char(v);
        out += 3;
        i += 4;
      }
      if (i >= n) break;
    }
    unsigned char c = p[i++];
    if (!InGroupAlphabet(c)) continue;  // line breaks, blanks, stray bytes
    g.c[g.count++] = c;
    if (g.count == 4) {
      out = EmitGroup(g, out);
      g.count = 0;
    }
  }
  return out;
}

void AppendDecoded(std::string_view text, TGroup &g, std::string &stream) {
  size_t start = stream.size();
  stream.resize(start + (g.count + text.size()) / 4 * 3);
  char *end = DecodeChunk(reinterpret_cast<const unsigned char *>(text.data()), text.size(), g,
                          stream.data() + start);
  stream.resize(end - stream.data());
}

// The end of the text: a final group that lost its padding still carries
// whole bytes (two characters one byte, three two); a lone character holds
// none.
void FinishGroup(TGroup &g, std::string &stream) {
  if (g.count >= 2 && g.c[0] != '=' && g.c[1] != '=') {
    for (int n = g.count; n < 4; ++n) g.c[n] = '=';
    char bytes[3];
    char *end = EmitGroup(g, bytes);
    stream.append(bytes, size_t(end - bytes));
  }
  g.count = 0;
}

// Each 12-bit half of a three-byte group maps to two output characters at
// once, halving the lookups.
struct TEncodeTable {
  std::array<uint16_t, 4096> pairs{};
  constexpr TEncodeTable() {
    for (unsigned v = 0; v < 4096; ++v)
      pairs[v] = uint16_t((unsigned char)kAlphabet[v >> 6] | (unsigned char)kAlphabet[v & 63] << 8);
  }
};
constexpr TEncodeTable kEncode;

void AppendEncoded(std::string_view bytes, std::string &out) {
  size_t start = out.size();
  out.resize(start + (bytes.size() + 2) / 3 * 4);
  char *o = out.data() + start;
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
  size_t n = bytes.size(), i = 0;
  for (; i + 3 <= n; i += 3, o += 4) {
    uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8 | p[i + 2];
    uint16_t hi = kEncode.pairs[v >> 12], lo = kEncode.pairs[v & 4095];
    std::memcpy(o, &hi, 2);
    std::memcpy(o + 2, &lo, 2);
  }
  if (i < n) {
    uint32_t v = uint32_t(p[i]) << 16 | (i + 1 < n ? uint32_t(p[i + 1]) << 8 : 0);
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
  }
}

}  // namespace

std::string Base64EncodeBytes(std::string_view bytes) {
  std::string out;
  AppendEncoded(bytes, out);
  return out;
}

std::string Base64DecodeBytes(std::string_view text) {
  std::string out;
  TGroup g;
  AppendDecoded(text, g, out);
  FinishGroup(g, out);
  return out;
}

const TBase64Decoder &TBase64Decoder::Instance() {
  static const TBase64Decoder instance;
  return instance;
}

std::string TBase64Decoder::DecodeLine(const std::string &line) const {
  return Base64DecodeBytes(line);
}

bool TBase64Decoder::Decode(const TStringList &lines, std::string &stream) const {
  return RunFramed([&] {
    // One allocation for the whole body, written through a pointer: growing
    // it line by line costs more than the decoding itself.
    size_t total = 0;
    for (const std::string &line : lines) total += line.size();
    const size_t start = stream.size();
    stream.resize(start + total / 4 * 3 + 3);
    char *out = stream.data() + start;
    TGroup g;
    for (const std::string &line : lines)
      out = DecodeChunk(reinterpret_cast<const unsigned char *>(line.data()), line.size(), g, out);
    stream.resize(size_t(out - stream.data()));
    FinishGroup(g, stream);
  });
}

std::string TBase64Decoder::EncodeLine(const std::string &bytes) const {
  return Base64EncodeBytes(bytes);
}

bool TBase64Decoder::Encode(const std::string &stream, TStringList &lines) const {
  // 45 input bytes are exactly 60 characters, so cutting the input gives the
  // same lines as cutting the encoded text, without holding it twice.
  constexpr size_t kBytesPerLine = 45;
  return RunFramed([&] {
    lines.reserve(lines.size() + stream.size() / kBytesPerLine + 1);
    std::string_view all(stream);
    for (size_t at = 0; at < all.size(); at += kBytesPerLine) {
      std::string line;
      AppendEncoded(all.substr(at, kBytesPerLine), line);
      lines.push_back(std::move(line));
    }
  });
}
