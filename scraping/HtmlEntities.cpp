#include "scraping/HtmlEntities.h"

#include <array>
#include <unordered_map>

namespace {

// HTML 4.01's names for the codes 160 to 255, in code order.
constexpr std::array<const char *, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

const std::unordered_map<std::string_view, int> &Latin1Table() {
  static const std::unordered_map<std::string_view, int> table = [] {
    std::unordered_map<std::string_view, int> t;
    t.emplace("quot", 34);
    t.emplace("amp", 38);
    t.emplace("lt", 60);
    t.emplace("gt", 62);
    for (size_t i = 0; i < kLatin1Names.size(); ++i) t.emplace(kLatin1Names[i], int(160 + i));
    return t;
  }();
  return table;
}

// The names the entity decoder knows beyond the markup characters. It
// deliberately knows fewer than the tokenizer: names outside this list stay
// in the text as written.
const char *const kDecoderNames[] = {
    "laquo",  "raquo",  "not",    "plusmn", "divide", "micro",  "frac14", "frac12", "frac34",
    "cent",   "pound",  "yen",    "curren", "copy",   "reg",    "iexcl",  "iquest", "middot",
    "deg",    "sect",   "para",   "ordm",   "ordf",   "sup1",   "sup2",   "sup3",   "shy",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "Agrave", "Aacute",
    "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "egrave", "eacute", "ecirc",  "euml",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "igrave", "iacute", "icirc",  "iuml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ograve", "oacute", "ocirc",  "otilde", "ouml",   "oslash",
    "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "Oslash", "ugrave", "uacute", "ucirc",
    "uuml",   "Ugrave", "Uacute", "Ucirc",  "Uuml",   "yuml",   "ccedil", "Ccedil", "szlig",
    "ntilde", "Ntilde"};

const std::unordered_map<std::string_view, int> &DecoderTable() {
  static const std::unordered_map<std::string_view, int> table = [] {
    std::unordered_map<std::string_view, int> t;
    t.emplace("nbsp", 32);
    t.emplace("quot", 34);
    t.emplace("amp", 38);
    t.emplace("lt", 60);
    t.emplace("gt", 62);
    t.emplace("hibar", 175);
    t.emplace("brkbar", 166);
    for (const char *name : kDecoderNames) t.emplace(name, Latin1EntityCode(name));
    return t;
  }();
  return table;
}

// The longest candidate DecodeEntities tries: "&", ten characters, nothing
// more, so that a run of "&" costs constant work per character.
constexpr size_t kMaxLookAhead = 10;

}  // namespace

int Latin1EntityCode(std::string_view name) {
  const auto &table = Latin1Table();
  auto it = table.find(name);
  return it == table.end() ? -1 : it->second;
}

bool HtmlEscape(std::string &text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  char prev = 0;
  for (char ch : text) {
    unsigned char c = (unsigned char)ch;
    switch (ch) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '&':
        out += "&amp;";
        break;
      case ' ':
        if (prev == ' ')
          out += "&nbsp;";
        else
          out += ' ';
        break;
      default:
        if (c > 126) {
          out += "&#";
          out += std::to_string(int(c));
          out += ';';
        } else {
          out += ch;
        }
    }
    prev = ch;
  }
  if (out.size() == text.size()) return false;
  text = std::move(out);
  return true;
}

void TextLinesToHtml(TStringList &lines) {
  for (std::string &line : lines) {
    HtmlEscape(line);
    line += "<br>";
  }
}

bool DecodeEntity(std::string_view reference, char &ch) {
  ch = '&';
  std::string ref(reference);
  if (ref.empty() || ref.back() != ';') ref += ';';
  if (ref.size() < 4 || ref[0] != '&') return false;

  int code = 0;
  if (ref == "&#8217;") {
    code = '\'';
  } else if (ref == "&#8220;" || ref == "&#8221;") {
    code = '"';
  } else if (ref == "&#8364;") {
    code = 'E';
  } else if (ref[1] == '#') {
    // Decimal only. A code of 256 or more has no byte of its own here, so the
    // reference is left alone rather than decoded to an unrelated character.
    std::string_view digits = std::string_view(ref).substr(2, ref.size() - 3);
    if (digits.empty() || digits.size() > 3) return false;
    for (char d : digits) {
      if (d < '0' || d > '9') return false;
      code = code * 10 + (d - '0');
    }
    if (code > 255) return false;
  } else {
    const auto &table = DecoderTable();
    auto it = table.find(std::string_view(ref).substr(1, ref.size() - 2));
    if (it == table.end()) return false;
    code = it->second;
  }
  if (code == 0) return false;
  ch = char(code);
  return true;
}

bool DecodeEntities(std::string &text) {
  size_t first = text.find('&');
  if (first == std::string::npos) return false;
  std::string out(text, 0, first);
  out.reserve(text.size());
  const size_t n = text.size();
  size_t i = first;
  while (i < n) {
    char c = text[i];
    if (c != '&') {
      out += c;
      ++i;
      continue;
    }
    char decoded = '&';
    size_t length = 0;
    if (i + 1 < n && text[i + 1] == '#') {
      // Numeric: exactly the digits that follow, with the ";" if there is one.
      // Shortening a numeric reference would only change its number.
      size_t k = i + 2;
      while (k < n && k - i <= kMaxLookAhead && text[k] >= '0' && text[k] <= '9') ++k;
      if (k < n && text[k] == ';') ++k;
      if (k > i + 2 && DecodeEntity(std::string_view(text).substr(i, k - i), decoded))
        length = k - i;
    } else {
      size_t end = i + 1;
      while (end < n && end - i < kMaxLookAhead && text[end] != ';') ++end;
      // The candidate runs up to and including the ";" when one is in reach.
      size_t len = (end < n && text[end] == ';') ? end - i + 1 : end - i;
      while (len >= 3) {
        if (DecodeEntity(std::string_view(text).substr(i, len), decoded)) {
          length = len;
          break;
        }
        --len;
      }
    }
    if (length > 0) {
      out += decoded;
      i += length;
    } else {
      // Only the "&" is passed over, so an "&" right behind it still starts
      // a reference of its own.
      out += '&';
      ++i;
    }
  }
  if (out.size() == text.size()) return false;
  text = std::move(out);
  return true;
}
