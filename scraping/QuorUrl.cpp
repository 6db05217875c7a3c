#include "scraping/QuorUrl.h"

#include <algorithm>

int32_t QuorUrlDefaultPort = 6173;

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool IsAddressSafe(unsigned char c) {
  if (c < 33 || c > 126) return false;
  switch (c) {
    case '!':
    case '"':
    case '#':
    case '$':
    case '(':
    case ')':
    case '*':
    case '<':
    case '>':
    case '[':
    case ']':
    case '{':
    case '|':
    case '}':
      return false;
    default:
      return true;
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendEscaped(std::string &out, unsigned char c) {
  out += '%';
  out += kHexDigits[c >> 4];
  out += kHexDigits[c & 15];
}

// The address part before the query. Besides what EncodeUrlText escapes, "?"
// is escaped too: a decoded "?" in a path or password would otherwise be
// taken for the start of the query when the address is read back.
std::string EncodeAddressPart(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char c = (unsigned char)ch;
    if (IsAddressSafe(c) && c != '%' && c != '+' && c != '?')
      out += ch;
    else
      AppendEscaped(out, c);
  }
  return out;
}

// Port text: a whole number, else the web's default.
int32_t PortOf(std::string_view text) {
  int port = 0;
  bool digits = !text.empty() &&
                std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  return digits && TryStrToInt(text, port) ? port : 80;
}

}  // namespace

TQuorUrl::TQuorUrl() : Protocol("http"), Host("LocalHost"), Port(QuorUrlDefaultPort) {}

void TQuorUrl::Parse(std::string_view address) {
  Lines.clear();
  Protocol = "http";
  Port = 80;
  User.clear();
  Password.clear();
  Host.clear();
  Path.clear();
  Document.clear();

  std::string_view before = address;
  size_t q = address.find('?');
  if (q != std::string_view::npos) {
    before = address.substr(0, q);
    SetQueryText(address.substr(q + 1));
  }
  size_t scheme = before.find("://");
  if (scheme != std::string_view::npos) {
    Protocol = std::string(before.substr(0, scheme));
    before = before.substr(scheme + 3);
  }
  std::string rest = DecodeUrlText(before);

  // The user part ends at the last "@" before the path: user names are often
  // mail addresses themselves.
  size_t slash = rest.find('/');
  size_t at = rest.rfind('@', slash == std::string::npos ? std::string::npos : slash);
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
    std::string userPart = rest.substr(0, at);
    rest.erase(0, at + 1);
    size_t colon = userPart.find(':');
    if (colon != std::string::npos) {
      User = userPart.substr(0, colon);
      Password = userPart.substr(colon + 1);
    } else {
      User = userPart;
    }
  }

  // A ":" counts as the port separator only within the host part; one in the
  // path belongs to the path.
  slash = rest.find('/');
  size_t colon = rest.find(':');
  if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) {
    Host = rest.substr(0, colon);
    std::string after = rest.substr(colon + 1);
    size_t s = after.find('/');
    if (s != std::string::npos) {
      Port = PortOf(std::string_view(after).substr(0, s));
      rest = after.substr(s + 1);
    } else {
      Port = PortOf(after);
      rest.clear();
    }
  } else if (slash == std::string::npos) {
    Host = rest;
    return;
  } else {
    Host = rest.substr(0, slash);
    rest.erase(0, slash + 1);
  }

  size_t last = rest.rfind('/');
  if (last == std::string::npos) {
    Document = rest;
    return;
  }
  Document = rest.substr(last + 1);
  rest.erase(last);
  if (!Document.empty())
    Path = rest;
  else
    Document = rest;
}

std::string TQuorUrl::FullUrl() const {
  std::string plain = Protocol + "://";
  if (!User.empty() || !Password.empty()) {
    // A password without a user keeps its ":" so that reading the address
    // back does not turn it into the user name.
    plain += User;
    if (!Password.empty()) plain.append(":").append(Password);
    plain += "@";
  }
  plain += Host;
  if (Port != 80) plain.append(":").append(std::to_string(Port));
  if (!Path.empty()) plain.append("/").append(Path);
  if (!Document.empty()) plain.append("/").append(Document);
  std::string result = EncodeAddressPart(plain);
  std::string query = QueryText();
  if (!query.empty()) result.append("?").append(query);
  return result;
}

std::string TQuorUrl::RequestPath() const {
  std::string plain = Path;
  if (!Document.empty()) plain.append("/").append(Document);
  std::string encoded = EncodeAddressPart(plain);
  std::string result;
  if (encoded.empty() || encoded[0] != '/') result.push_back('/');
  result += encoded;
  std::string query = QueryText();
  if (!query.empty()) result.append("?").append(query);
  return result;
}

std::string TQuorUrl::QueryText() const {
  std::string out;
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (i > 0) out += '&';
    for (char ch : Lines[i]) {
      unsigned char c = (unsigned char)ch;
      // "+" is escaped as well: read back, a plain "+" would become a blank.
      if (IsAddressSafe(c) && c != '%' && c != '&' && c != '+')
        out += ch;
      else
        AppendEscaped(out, c);
    }
  }
  return out;
}

void TQuorUrl::SetQueryText(std::string_view text) {
  Lines.clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t amp = text.find('&', start);
    if (amp == std::string_view::npos) amp = text.size();
    if (amp > start) Lines.push_back(DecodeUrlText(text.substr(start, amp - start)));
    start = amp + 1;
  }
}

int TQuorUrl::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < Lines.size(); ++i) {
    std::string_view line = Lines[i];
    size_t eq = line.find('=');
    if (eq != std::string_view::npos && SameText(line.substr(0, eq), name)) return int(i);
  }
  return -1;
}

std::string TQuorUrl::Value(std::string_view name) const {
  int i = IndexOfName(name);
  if (i < 0) return std::string();
  const std::string &line = Lines[i];
  return line.substr(line.find('=') + 1);
}

void TQuorUrl::SetValue(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Lines.erase(Lines.begin() + i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i >= 0)
    Lines[i] = std::move(line);
  else
    Lines.push_back(std::move(line));
}

std::string GetQueryParam(std::string_view address, std::string_view name) {
  try {
    TQuorUrl url;
    url.Parse(address);
    return url.Value(name);
  } catch (...) {
    return std::string();
  }
}

void SetQueryParam(std::string_view name, std::string_view value, std::string &address) {
  try {
    TQuorUrl url;
    url.Parse(address);
    url.SetValue(name, value);
    address = url.FullUrl();
  } catch (...) {
    // The address stays as it was.
  }
}

std::string EncodeUrlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    unsigned char c = (unsigned char)ch;
    if (IsAddressSafe(c) && c != '%' && c != '+')
      out += ch;
    else
      AppendEscaped(out, c);
  }
  return out;
}

std::string DecodeUrlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < n) {
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += char(hi * 16 + lo);
        i += 2;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
  return out;
}
