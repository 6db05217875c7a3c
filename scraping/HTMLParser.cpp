#include "scraping/HTMLParser.h"

#include <cstring>

#include "scraping/HtmlEntities.h"

namespace {

// Codes below the blank and the no-break space read as a blank; every other
// byte stands for itself.
char DecodedByte(int code) { return (code < 32 || code == 160) ? ' ' : char(code); }

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex) {
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  }
  return -1;
}

// The longest named reference in the table, "&" and ";" included.
constexpr size_t kMaxNamedReference = 8;

std::string DecodeTextReferences(std::string_view raw) {
  std::string s;
  s.reserve(raw.size());
  for (char c : raw)
    if (c != '\n') s += c;
  if (s.find('&') == std::string::npos) return s;

  std::string out;
  out.reserve(s.size());
  const size_t n = s.size();
  // Position of the next ";" or blank at or after the current scan point.
  // Terminators only move forward, so keeping it makes a long run of "&"
  // linear rather than quadratic.
  size_t term = 0;
  bool termKnown = false;
  size_t i = 0;
  while (i < n) {
    const char *amp = static_cast<const char *>(std::memchr(s.data() + i, '&', n - i));
    size_t a = amp ? size_t(amp - s.data()) : n;
    out.append(s, i, a - i);
    if (a == n) break;
    i = a;
    if (!termKnown || (term != std::string::npos && term < i + 1)) {
      term = s.find_first_of("; ", i + 1);
      termKnown = true;
    }
    const size_t refEnd = term == std::string::npos ? n : term + 1;  // exclusive
    const size_t refLen = refEnd - i;
    const bool hasTerm = term != std::string::npos;
    const size_t bodyEnd = hasTerm ? term : n;

    if (refLen > 3 && s[i + 1] == '#') {
      size_t b = i + 2;
      bool hex = false;
      if (s[b] == 'x' || s[b] == 'X') {
        hex = true;
        ++b;
      }
      // At most three characters, the hexadecimal marker included.
      if (bodyEnd - (i + 2) <= 3 && bodyEnd > b) {
        int value = 0;
        bool ok = true;
        for (size_t k = b; k < bodyEnd && ok; ++k) {
          int d = DigitValue(s[k], hex);
          if (d < 0)
            ok = false;
          else
            value = value * (hex ? 16 : 10) + d;
        }
        // Three decimal digits reach 999; codes above 255 have no byte in
        // 8-bit text and stay as written.
        if (ok && value < 256) {
          out += DecodedByte(value);
          // A blank ending the reference is text of its own and is kept.
          i = (hasTerm && s[term] == ';') ? term + 1 : bodyEnd;
          continue;
        }
      }
    } else if (hasTerm && s[term] == ';' && refLen <= kMaxNamedReference) {
      int code = Latin1EntityCode(std::string_view(s).substr(i + 1, term - i - 1));
      if (code >= 0) {
        out += DecodedByte(code);
        i = term + 1;
        continue;
      }
    }
    out += '&';
    ++i;
  }
  return out;
}

}  // namespace

THTMLTag *THTMLToken::AsTag() { return FIsTag ? static_cast<THTMLTag *>(this) : nullptr; }
const THTMLTag *THTMLToken::AsTag() const {
  return FIsTag ? static_cast<const THTMLTag *>(this) : nullptr;
}
THTMLText *THTMLToken::AsText() { return FIsTag ? nullptr : static_cast<THTMLText *>(this); }
const THTMLText *THTMLToken::AsText() const {
  return FIsTag ? nullptr : static_cast<const THTMLText *>(this);
}

THTMLParam::THTMLParam(std::string raw) : Raw(std::move(raw)) {
  size_t eq = Raw.find('=');
  if (eq == std::string::npos) {
    Name = UpperCase(Raw);
    return;
  }
  Name = UpperCase(std::string_view(Raw).substr(0, eq));
  Value = Raw.substr(eq + 1);
  if (Value.size() > 1 && Value.front() == '"' && Value.back() == '"')
    Value = Value.substr(1, Value.size() - 2);
}

THTMLTag::THTMLTag(std::string raw) : THTMLToken(std::move(raw), true) {
  const std::string &r = Raw;
  size_t blank = r.find(' ');
  Name = UpperCase(std::string_view(r).substr(0, blank));
  if (blank == std::string::npos) return;
  // Attributes are split at blanks outside double quotes.
  size_t start = blank + 1;
  bool quoted = false;
  for (size_t k = start; k < r.size(); ++k) {
    char c = r[k];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      if (k > start) Params.emplace_back(r.substr(start, k - start));
      start = k + 1;
    }
  }
  if (start < r.size()) Params.emplace_back(r.substr(start));
}

const THTMLParam *THTMLTag::FindParam(std::string_view name) const {
  std::string upper = UpperCase(name);
  for (const THTMLParam &p : Params)
    if (p.Name == upper) return &p;
  return nullptr;
}

THTMLText::THTMLText(std::string raw) : THTMLToken(std::move(raw), false) {
  Text = DecodeTextReferences(Raw);
}

void THTMLParser::EmitText() {
  if (FInTag || FPendingText.empty()) return;
  Tokens.push_back(std::make_unique<THTMLText>(std::move(FPendingText)));
  FPendingText.clear();
}

void THTMLParser::EmitTag() {
  FInTag = false;
  FTagLineBreak = false;
  Tokens.push_back(std::make_unique<THTMLTag>(std::move(FPendingTag)));
  FPendingTag.clear();
}

void THTMLParser::AppendTagPiece(std::string_view piece) {
  if (FTagLineBreak) {
    FPendingTag += ' ';
    FTagLineBreak = false;
  }
  FPendingTag.append(piece);
}

void THTMLParser::Parse() {
  FPendingText.clear();
  FPendingTag.clear();
  FInTag = false;
  FTagLineBreak = false;
  for (const std::string &line : Lines) {
    const size_t n = line.size();
    size_t from = 0;
    while (true) {
      if (FInTag) {
        size_t close = line.find('>', from);
        if (close == std::string::npos) {
          AppendTagPiece(std::string_view(line).substr(from));
          FTagLineBreak = !FPendingTag.empty();
          break;
        }
        AppendTagPiece(std::string_view(line).substr(from, close - from));
        EmitTag();
        from = close + 1;
      } else {
        size_t open = line.find('<', from);
        if (open == std::string::npos) {
          // Text lines are joined as they are: nothing goes between them.
          FPendingText.append(line, from, n - from);
          break;
        }
        FPendingText.append(line, from, open - from);
        EmitText();
        FInTag = true;
        from = open + 1;
      }
    }
  }
  if (FInTag) {
    if (!FPendingTag.empty()) EmitTag();
    FInTag = false;
  } else {
    EmitText();
  }
  FPendingTag.clear();
  FPendingText.clear();
}

void THTMLParser::Parse(std::string_view text) {
  Lines = SplitLines(text);
  Parse();
}

bool FindBetween(std::string_view openName, std::string_view closeName,
                 const THTMLTokenList &tokens, THTMLTokenRefs &out, size_t &index) {
  out.clear();
  if (tokens.size() <= 2) return false;
  const std::string open = UpperCase(openName);
  const std::string close = UpperCase(closeName);
  size_t i = index;
  for (; i < tokens.size(); ++i) {
    const THTMLTag *tag = tokens[i]->AsTag();
    if (tag && tag->Name == open) break;
  }
  if (i >= tokens.size()) return false;
  for (++i; i < tokens.size(); ++i) {
    const THTMLTag *tag = tokens[i]->AsTag();
    if (tag && tag->Name == close) {
      index = i;
      return true;
    }
    out.push_back(tokens[i].get());
  }
  return false;
}

bool FindElement(std::string_view name, const THTMLTokenList &tokens, size_t &index,
                 THTMLTokenRefs &out) {
  std::string close = "/";
  close.append(name);
  return FindBetween(name, close, tokens, out, index);
}

int ElementText(std::string_view name, const THTMLTokenList &tokens, std::string &text,
                size_t &index) {
  THTMLTokenRefs inside;
  if (!FindElement(name, tokens, index, inside)) return 0;
  int count = 0;
  for (const THTMLToken *token : inside) {
    if (const THTMLText *t = token->AsText()) {
      text += t->Text;
      ++count;
    }
  }
  return count;
}
