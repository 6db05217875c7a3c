#include <cstring>

#include "mail/EmailDecoders.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Past this column a soft line break follows, keeping encoded lines well
// inside the 76 characters mail transport allows.
constexpr int kMaxColumn = 71;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One line without line breaks, written into a buffer sized for the worst
// case (every byte escaped, a soft break every 24 bytes).
std::string EncodeOneLine(std::string_view line) {
  const size_t n = line.size();
  std::string out(n * 3 + (n / 24 + 1) * 3 + 3, '\0');
  char *o = out.data();
  int column = 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = (unsigned char)line[i];
    if (c == '=' || c < 32 || c > 126) {
      o[0] = '=';
      o[1] = kHexDigits[c >> 4];
      o[2] = kHexDigits[c & 15];
      o += 3;
      column += 3;
    } else {
      *o++ = char(c);
      column += 1;
    }
    // No soft break after the last character: the decoder would join this
    // line to the next one.
    if (column > kMaxColumn && i + 1 < n) {
      o[0] = '=';
      o[1] = '\r';
      o[2] = '\n';
      o += 3;
      column = 0;
    }
  }
  // Transport may strip trailing blanks, so a final one travels escaped.
  if (o > out.data() && o[-1] == ' ') {
    o[-1] = '=';
    o[0] = '2';
    o[1] = '0';
    o += 2;
  }
  out.resize(size_t(o - out.data()));
  return out;
}

// Decodes Text onto the end of Out. Plain runs are copied whole; only the
// escapes are looked at one by one.
void AppendDecoded(std::string_view text, std::string &out) {
  const size_t start = out.size(), n = text.size();
  out.resize(start + n);  // decoding never lengthens the text
  char *o = out.data() + start;
  const char *p = text.data();
  size_t i = 0;
  while (i < n) {
    const void *eq = std::memchr(p + i, '=', n - i);
    size_t run = eq ? size_t(static_cast<const char *>(eq) - (p + i)) : n - i;
    std::memcpy(o, p + i, run);
    o += run;
    i += run;
    if (i >= n) break;
    // A soft line break: "=" then (possibly blanks added in transit) the
    // line end or the end of the text.
    size_t j = i + 1;
    while (j < n && (p[j] == ' ' || p[j] == '\t')) ++j;
    if (j == n) break;
    if (p[j] == '\r' && j + 1 < n && p[j + 1] == '\n') {
      i = j + 2;
      continue;
    }
    if (i + 2 < n) {
      int hi = HexValue(p[i + 1]), lo = HexValue(p[i + 2]);
      if (hi >= 0 && lo >= 0) {
        *o++ = char(hi << 4 | lo);
        i += 3;
        continue;
      }
    }
    *o++ = p[i++];  // a malformed escape travels as it stands
  }
  out.resize(size_t(o - out.data()));
}

}  // namespace

const TQuotedPrintableDecoder &TQuotedPrintableDecoder::Instance() {
  static const TQuotedPrintableDecoder instance;
  return instance;
}

std::string TQuotedPrintableDecoder::DecodeLine(const std::string &line) const {
  std::string out;
  AppendDecoded(line, out);
  return out;
}

bool TQuotedPrintableDecoder::Decode(const TStringList &lines, std::string &stream) const {
  return RunFramed([&] {
    size_t total = 0;
    for (const std::string &line : lines) total += line.size() + 2;
    std::string text;
    text.reserve(total);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) text += "\r\n";
      text += lines[i];
    }
    AppendDecoded(text, stream);
  });
}

std::string TQuotedPrintableDecoder::EncodeLine(const std::string &bytes) const {
  // Each hard line break stays one; the halves are encoded on their own.
  std::string out;
  std::string_view rest(bytes);
  for (;;) {
    size_t eol = rest.find("\r\n");
    if (eol == std::string_view::npos) break;
    out += EncodeOneLine(rest.substr(0, eol));
    out += "\r\n";
    rest.remove_prefix(eol + 2);
  }
  out += EncodeOneLine(rest);
  return out;
}

bool TQuotedPrintableDecoder::Encode(const std::string &stream, TStringList &lines) const {
  return RunFramed([&] {
    for (const std::string &line : SplitLines(stream)) {
      // Soft breaks end output lines of their own.
      std::string encoded = EncodeOneLine(line);
      std::string_view rest(encoded);
      for (size_t eol; (eol = rest.find("\r\n")) != std::string_view::npos;
           rest.remove_prefix(eol + 2))
        lines.emplace_back(rest.substr(0, eol));
      lines.emplace_back(rest);
    }
  });
}
