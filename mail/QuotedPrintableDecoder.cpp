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

void AppendEscape(unsigned char c, std::string &out) {
  out += '=';
  out += kHexDigits[c >> 4];
  out += kHexDigits[c & 15];
}

// One line without line breaks.
std::string EncodeOneLine(std::string_view line) {
  std::string out;
  out.reserve(line.size() + line.size() / 8 + 4);
  int column = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    unsigned char c = (unsigned char)line[i];
    if (c == '=' || c < 32 || c > 126) {
      AppendEscape(c, out);
      column += 3;
    } else {
      out += char(c);
      column += 1;
    }
    // No soft break after the last character: the decoder would join this
    // line to the next one.
    if (column > kMaxColumn && i + 1 < line.size()) {
      out += "=\r\n";
      column = 0;
    }
  }
  // Transport may strip trailing blanks, so a final one travels escaped.
  if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
    unsigned char c = (unsigned char)out.back();
    out.pop_back();
    AppendEscape(c, out);
  }
  return out;
}

}  // namespace

const TQuotedPrintableDecoder &TQuotedPrintableDecoder::Instance() {
  static const TQuotedPrintableDecoder instance;
  return instance;
}

std::string TQuotedPrintableDecoder::DecodeLine(const std::string &line) const {
  std::string out;
  out.reserve(line.size());
  const size_t n = line.size();
  for (size_t i = 0; i < n; ++i) {
    char c = line[i];
    if (c != '=') {
      out += c;
      continue;
    }
    // A soft line break: "=" then (possibly blanks added in transit) the
    // line end or the end of the text.
    size_t j = i + 1;
    while (j < n && (line[j] == ' ' || line[j] == '\t')) ++j;
    if (j == n) break;
    if (line[j] == '\r' && j + 1 < n && line[j + 1] == '\n') {
      i = j + 1;
      continue;
    }
    if (i + 2 < n) {
      int hi = HexValue(line[i + 1]), lo = HexValue(line[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += char(hi << 4 | lo);
        i += 2;
        continue;
      }
    }
    out += c;  // a malformed escape travels as it stands
  }
  return out;
}

bool TQuotedPrintableDecoder::Decode(const TStringList &lines, std::string &stream) const {
  return RunFramed([&] {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) text += "\r\n";
      text += lines[i];
    }
    stream += DecodeLine(text);
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
      std::string encoded = EncodeOneLine(line);
      if (encoded.find('\r') == std::string::npos) {
        lines.push_back(std::move(encoded));
      } else {
        TStringList parts = SplitLines(encoded);
        lines.insert(lines.end(), parts.begin(), parts.end());
      }
    }
  });
}
