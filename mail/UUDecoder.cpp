#include "mail/EmailDecoders.h"

namespace {

// Longest block one uuencoded line carries.
constexpr size_t kMaxLineBytes = 45;

// Zero is written as a backquote: a space would be lost to trailing-blank
// stripping on the way.
char UUChar(unsigned v) { return v == 0 ? '`' : char(v + 32); }

unsigned UUValue(char c) { return c == '`' ? 0 : unsigned((unsigned char)c - 32) & 63; }

}  // namespace

std::string UUEncodeLine(std::string_view bytes) {
  if (bytes.size() > kMaxLineBytes) throw EDecoderError("UUEncode: String too long");
  if (bytes.empty()) return "`";
  std::string out;
  out.reserve(1 + (bytes.size() + 2) / 3 * 4);
  out += char(bytes.size() + 32);
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
  for (size_t i = 0; i < bytes.size(); i += 3) {
    unsigned b0 = p[i];
    unsigned b1 = i + 1 < bytes.size() ? p[i + 1] : 0;
    unsigned b2 = i + 2 < bytes.size() ? p[i + 2] : 0;
    out += UUChar(b0 >> 2);
    out += UUChar((b0 << 4 | b1 >> 4) & 63);
    out += UUChar((b1 << 2 | b2 >> 6) & 63);
    out += UUChar(b2 & 63);
  }
  return out;
}

std::string UUDecodeLine(std::string_view line) {
  if (line.empty() || line[0] < '!' || line[0] > 'a')
    throw EDecoderError("UUDecode: Incorrect string format");
  std::string out;
  out.reserve((line.size() - 1) / 4 * 3 + 3);
  // A short final group (some encoders drop trailing zero characters) still
  // gives the bytes it holds bits for.
  for (size_t i = 1; i < line.size(); i += 4) {
    size_t have = line.size() - i < 4 ? line.size() - i : 4;
    unsigned v[4] = {0, 0, 0, 0};
    for (size_t k = 0; k < have; ++k) v[k] = UUValue(line[i + k]);
    out += char(v[0] << 2 | v[1] >> 4);
    if (have >= 3) out += char(v[1] << 4 | v[2] >> 2);
    if (have == 4) out += char(v[2] << 6 | v[3]);
  }
  if (line[0] != '`') {
    size_t length = size_t(line[0] - 32);
    if (out.size() > length) out.resize(length);
  }
  return out;
}

const TUUDecoder &TUUDecoder::Instance() {
  static const TUUDecoder instance;
  return instance;
}

const TXUUDecoder &TXUUDecoder::Instance() {
  static const TXUUDecoder instance;
  return instance;
}

std::string TUUDecoder::DecodeLine(const std::string &line) const { return UUDecodeLine(line); }

std::string TUUDecoder::EncodeLine(const std::string &bytes) const { return UUEncodeLine(bytes); }

bool TUUDecoder::Decode(const TStringList &lines, std::string &stream) const {
  // A part often holds a whole uuencoded file: its "begin" line, blank lines
  // around it and everything from its "end" line on carry no data.
  return RunFramed([&] {
    for (const std::string &line : lines) {
      if (line.empty() || line.compare(0, 6, "begin ") == 0) continue;
      if (line == "end") break;
      stream += UUDecodeLine(line);
    }
  });
}

bool TUUDecoder::Encode(const std::string &stream, TStringList &lines) const {
  return RunFramed([&] {
    std::string_view all(stream);
    for (size_t at = 0; at < all.size(); at += kMaxLineBytes) {
      std::string_view block = all.substr(at, kMaxLineBytes);
      lines.push_back(UUEncodeLine(block));
      if (block.size() < kMaxLineBytes) break;
    }
  });
}
