// RFC 2047 encoded words ("=?charset?B?...?=") in header values and in
// attachment file names. Bytes are handed on as they are, except that
// ISO-2022-JP becomes Shift_JIS, the form the rest of the program shows.
#include <algorithm>
#include <cstring>

#include "mail/EmailDecoders.h"

namespace {

constexpr char kEsc = '\x1b';

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string DecodeQWord(std::string_view encoded) {
  std::string out;
  out.reserve(encoded.size());
  for (size_t i = 0; i < encoded.size(); ++i) {
    char c = encoded[i];
    if (c == '_') {
      out += ' ';
    } else if (c == '=' && i + 2 < encoded.size() && HexValue(encoded[i + 1]) >= 0 &&
               HexValue(encoded[i + 2]) >= 0) {
      out += char(HexValue(encoded[i + 1]) << 4 | HexValue(encoded[i + 2]));
      i += 2;
    } else {
      out += c;  // malformed escapes travel literally
    }
  }
  return out;
}

// JIS escape form to Shift_JIS (JIS X 0208 arithmetic).
std::string JisToShiftJis(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  bool twoByte = false;
  for (size_t i = 0; i < in.size();) {
    if (in[i] == kEsc && i + 2 < in.size()) {
      std::string_view seq = in.substr(i + 1, 2);
      if (seq == "$B" || seq == "$@") {
        twoByte = true;
        i += 3;
        continue;
      }
      if (seq == "(B" || seq == "(J") {
        twoByte = false;
        i += 3;
        continue;
      }
    }
    if (twoByte && i + 1 < in.size()) {
      unsigned j1 = (unsigned char)in[i], j2 = (unsigned char)in[i + 1];
      unsigned s1 = ((j1 - 1) >> 1) + (j1 <= 94 ? 113 : 177);
      unsigned s2 = (j1 % 2 == 0) ? j2 + 126 : (j2 < 96 ? j2 + 31 : j2 + 32);
      out += char(s1);
      out += char(s2);
      i += 2;
    } else {
      out += in[i++];
    }
  }
  return out;
}

struct TWord {
  size_t start = 0;  // of "=?"
  size_t end = 0;    // of the closing "?="
  std::string_view charset, encoding, encoded;
};

// Finds the first "?=" at or after a position. Candidate word starts come
// in order, so the last answer is reused while it still lies ahead: a long
// header full of "=?" without closings is then read once, not once per start.
class TCloseFinder {
 public:
  explicit TCloseFinder(std::string_view text) : text_(text) {}
  size_t From(size_t at) {
    if (searched_ == std::string_view::npos || at < searched_ ||
        (found_ != std::string_view::npos && at > found_)) {
      found_ = text_.find("?=", at);
      searched_ = at;
    }
    return found_;
  }

 private:
  std::string_view text_;
  size_t searched_ = std::string_view::npos;
  size_t found_ = std::string_view::npos;
};

enum class TParse { Word, NotWord, NoMore };

// The word starting at Start, if it has the shape "=?charset?X?text?=" with a
// charset free of blanks and a one-letter encoding. NoMore when no later
// start can complete a word either.
TParse ParseWord(std::string_view text, size_t start, TCloseFinder &closes, TWord &w) {
  size_t c = text.find('?', start + 2);
  if (c == std::string_view::npos) return TParse::NoMore;
  size_t e = text.find('?', c + 1);
  if (e == std::string_view::npos) return TParse::NoMore;
  size_t end = closes.From(e + 1);
  if (end == std::string_view::npos) return TParse::NoMore;
  w.start = start;
  w.end = end;
  w.charset = text.substr(start + 2, c - start - 2);
  w.encoding = text.substr(c + 1, e - c - 1);
  w.encoded = text.substr(e + 1, end - e - 1);
  if (w.charset.empty() || w.encoding.size() != 1) return TParse::NotWord;
  bool blank = std::any_of(w.charset.begin(), w.charset.end(),
                           [](char ch) { return (unsigned char)ch <= ' '; });
  return blank ? TParse::NotWord : TParse::Word;
}

std::string DecodeWord(const TWord &w) {
  std::string bytes;
  if (w.encoded.empty()) return bytes;
  if (w.encoding[0] == 'Q' || w.encoding[0] == 'q')
    bytes = DecodeQWord(w.encoded);
  else
    bytes = Base64DecodeBytes(w.encoded);  // padding may be missing
  // RFC 2231 may add a language after the charset: "iso-2022-jp*ja".
  std::string_view charset = w.charset.substr(0, w.charset.find('*'));
  if (SameText(charset, "ISO-2022-JP")) bytes = JisToShiftJis(bytes);
  return bytes;
}

}  // namespace

std::string DecodeHeaderWords(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  bool afterWord = false;
  TCloseFinder closes(text);
  for (;;) {
    size_t start = text.find("=?", pos);
    if (start == std::string_view::npos) break;
    TWord w;
    TParse parsed = ParseWord(text, start, closes, w);
    if (parsed == TParse::NoMore) break;
    if (parsed == TParse::NotWord) {
      out.append(text.substr(pos, start + 2 - pos));
      pos = start + 2;
      afterWord = false;
      continue;
    }
    // White space between two encoded words only separates them.
    std::string_view between = text.substr(pos, start - pos);
    if (!afterWord || !std::all_of(between.begin(), between.end(), IsBlank)) out.append(between);
    out += DecodeWord(w);
    pos = w.end + 2;
    afterWord = true;
  }
  out.append(text.substr(pos));
  out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
  return out;
}

namespace {

std::string DecodeFileNameQ(std::string_view encoded) {
  std::string text(encoded);
  std::replace(text.begin(), text.end(), '_', ' ');
  std::string out;
  out.reserve(text.size());
  auto upperHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '=') {
      out += c;
      continue;
    }
    if (i + 2 < text.size() && upperHex(text[i + 1]) && upperHex(text[i + 2])) {
      out += char(HexValue(text[i + 1]) << 4 | HexValue(text[i + 2]));
      i += 2;
    } else if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) {
      // Soft break in any of the line-end forms found in the wild.
      char first = text[i + 1];
      ++i;
      if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') &&
          text[i + 1] != first)
        ++i;
    } else if (i + 1 == text.size()) {
      // a lone "=" at the very end is a dangling soft break
    } else {
      out += c;
    }
  }
  return out;
}

std::string DecodeFileNameWord(char encoding, std::string_view encoded) {
  if (encoding == 'B') {
    std::string bytes = Base64DecodeBytes(encoded);
    size_t nul = bytes.find('\0');
    if (nul != std::string::npos) bytes.resize(nul);
    return bytes;
  }
  if (encoding == 'U') return UUDecodeLine(encoded);
  return DecodeFileNameQ(encoded);
}

}  // namespace

std::string DecodeFileNameWords(std::string_view text) {
  size_t a = 0, b = text.size();
  while (a < b && text[a] == ' ') ++a;
  while (b > a && text[b - 1] == ' ') --b;
  std::string buf(text.substr(a, b - a));
  // Words are replaced one at a time and the search begins again in front of
  // the replacement, since decoded text may complete another word. Text left
  // of the first word start is settled into Out, and the decoded text is
  // written back into Buf just before the rest (it is always shorter than the
  // word), so long names cost linear time.
  std::string out;
  size_t from = 0;
  for (;;) {
    size_t s = buf.find("=?", from);
    if (s == std::string::npos) break;
    size_t c = buf.find('?', s + 2);
    if (c == std::string::npos) break;
    size_t end = buf.find("?=", c + 1);
    if (end == std::string::npos) break;
    // A "?=" inside a Q text ("=3F=" style mistakes) is skipped when the next
    // "?" closes the word instead.
    size_t q = buf.find('?', end + 2);
    if (q != std::string::npos && q + 1 < buf.size() && buf[q + 1] == '=') end = q;
    std::string_view field(buf.data() + c + 1, end - c - 1);
    char encoding = 'Q';
    if (field.size() >= 2 && field[1] == '?') {
      char letter = UpCaseChar(field[0]);
      if (letter == 'B' || letter == 'Q' || letter == 'U') encoding = letter;
    }
    std::string decoded;
    try {
      decoded = DecodeFileNameWord(encoding, field.size() > 2 ? field.substr(2) : "");
    } catch (const EDecoderError &) {
      break;  // an undecodable word stays as written, and so does the rest
    }
    out.append(buf, from, s - from);
    size_t wordEnd = end + 2;
    from = wordEnd - decoded.size();
    if (!decoded.empty()) std::memcpy(&buf[from], decoded.data(), decoded.size());
    if (!out.empty() && out.back() == '=') {
      out.pop_back();
      buf[--from] = '=';
    }
  }
  out.append(buf, from, std::string::npos);
  return out;
}
