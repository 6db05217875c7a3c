#include "http/HttpRequest.h"

#include <cstdlib>
#include <mutex>

#include "BuildConfig.h"
#include "foundation/StrUtil.h"

namespace {

// Namespace bound to the prefix "h" in the logon PROPFIND; the service
// ignores what it does not know, so any stable URI serves.
constexpr const char *kServiceSchemaNamespace = "http://schemas.brelvane.invalid/webmail/";

std::mutex gLookupMutex;
THttpHostLookup gLookup;

std::mutex gServiceBaseMutex;
bool gServiceBaseSet = false;
std::string gServiceBase;

// Splits "scheme://authority/rest" into its three parts; scheme and rest may
// come back empty.
void SplitUrl(const std::string &url, std::string &scheme, std::string &authority,
              std::string &rest) {
  const size_t slashes = url.find("//");
  size_t start = 0;
  scheme.clear();
  if (slashes != std::string::npos) {
    scheme = url.substr(0, slashes);
    start = slashes + 2;
  }
  const size_t slash = url.find('/', start);
  authority = url.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
  rest = slash == std::string::npos ? std::string() : url.substr(slash);
}

// Values that reach the wire come partly from the server (cookies, Location);
// a bare CR or LF kept in one would start a line of its own there.
std::string OneLine(const std::string &text) {
  std::string line = text;
  std::erase_if(line, [](char c) { return c == '\r' || c == '\n'; });
  return line;
}

}  // namespace

void SetHttpHostLookup(THttpHostLookup lookup) {
  std::lock_guard<std::mutex> lock(gLookupMutex);
  gLookup = std::move(lookup);
}

TDNSResult HttpLookupHost(const std::string &host, int limitMs, uint32_t &address) {
  THttpHostLookup lookup;
  {
    std::lock_guard<std::mutex> lock(gLookupMutex);
    lookup = gLookup;
  }
  return lookup ? lookup(host, limitMs, address) : LookupHost(host, limitMs, address);
}

void SetServiceBaseOverride(const std::string &baseUrl) {
  std::lock_guard<std::mutex> lock(gServiceBaseMutex);
  gServiceBase = Trim(baseUrl);
  gServiceBaseSet = true;
}

std::string GetServiceBaseOverride() {
  {
    std::lock_guard<std::mutex> lock(gServiceBaseMutex);
    if (gServiceBaseSet) return gServiceBase;
  }
  const char *env = std::getenv("BRELVANE_SERVICE_BASE");
  return env ? Trim(env) : std::string();
}

std::string ApplyServiceBase(const std::string &url) {
  const std::string base = GetServiceBaseOverride();
  if (base.empty()) return url;
  std::string baseScheme, baseAuthority, baseRest;
  SplitUrl(base, baseScheme, baseAuthority, baseRest);
  std::string scheme, authority, rest;
  SplitUrl(url, scheme, authority, rest);
  if (baseScheme.empty()) baseScheme = scheme.empty() ? "http:" : scheme;
  return baseScheme + "//" + baseAuthority + rest;
}

std::string UrlHost(const std::string &url) {
  std::string scheme, authority, rest;
  SplitUrl(url, scheme, authority, rest);
  return authority.substr(0, authority.find(':'));
}

std::string HttpMailEndpointFor(const std::string &userId) {
  return ApplyServiceBase(ContainsText(userId, "@msn") ? BRELVANE_MSN_HTTPMAIL_URL
                                                       : BRELVANE_HOTMAIL_HTTPMAIL_URL);
}

const char *DnsResultName(TDNSResult result) {
  switch (result) {
    case dns_NoError:
      return "dns_NoError";
    case dns_NoContactServer:
      return "dns_NoContactServer";
    case dns_BadResultReturned:
      return "dns_BadResultReturned";
    case dns_Timeout:
      return "dns_Timeout";
    case dns_InternalError:
      return "dns_InternalError";
    case dns_NotPerformed:
      return "dns_NotPerformed";
  }
  return "dns_Unknown";
}

THttpRequest::THttpRequest() { DefaultHost = UrlHost(ApplyServiceBase(BRELVANE_MSN_HTTPMAIL_URL)); }

THttpRequest::~THttpRequest() = default;

bool THttpRequest::SetHeader(const std::string &name, const std::string &rawValue) {
  const std::string value = OneLine(rawValue);
  if (!value.empty() && SameText(name, "Host") && !StartsText("Blah", value)) DefaultHost = value;
  if (FLines.empty()) {
    Add("GET");
    if (!value.empty()) Add(name + ": " + value);
    return false;
  }
  const int at = FindHeader(name);
  if (at >= 0) {
    if (value.empty())
      Delete(at);
    else
      FLines[size_t(at)] = name + ": " + value;
    return true;
  }
  if (value.empty()) return false;
  int end = HeaderEnd();
  if (end < 0) {
    // Without an empty line every line but the start line is a header; a
    // list holding only the start line must not get the header above it.
    end = Count() > 1 ? Count() - 1 : Count();
  }
  Insert(end, name + ": " + value);
  return false;
}

bool THttpRequest::GetUri(std::string &uri) {
  if (!FLines.empty() && FLines.front().empty()) Delete(0);
  if (FLines.empty()) return false;
  const std::string line = Trim(FLines.front());
  const size_t first = line.find(' ');
  if (first == std::string::npos) return false;
  size_t start = line.find_first_not_of(' ', first);
  if (start == std::string::npos) return false;
  const size_t end = line.find(' ', start);
  uri = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  return true;
}

void THttpRequest::SetUri(const std::string &rawUri) {
  const std::string uri = OneLine(rawUri);
  if (FLines.empty() || FLines.front().empty()) {
    // An empty first line means there is no start line yet: the new one
    // leads the list.
    if (!FLines.empty()) Delete(0);
    Insert(0, "GET " + uri + " HTTP/1.1");
    return;
  }
  TStringList words;
  const std::string line = Trim(FLines.front());
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t j = i;
    while (j < line.size() && line[j] != ' ') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  if (words.empty()) words.push_back("GET");
  if (words.size() == 1) {
    words.push_back(uri);
    words.push_back("HTTP/1.1");
  } else if (words.size() == 2) {
    words[1] = uri;
    words.push_back("HTTP/1.1");
  } else {
    words[1] = uri;
  }
  std::string joined;
  for (const auto &w : words) joined += (joined.empty() ? "" : " ") + w;
  FLines.front() = joined;
}

bool THttpRequest::GetFullUri(std::string &text) {
  std::string host, uri;
  const bool haveHost = GetHeader("Host", host);
  const bool haveUri = GetUri(uri);
  text = host + uri;
  return haveHost && haveUri;
}

void THttpRequest::SetUrl(const std::string &url) {
  const size_t slashes = url.find("//");
  const std::string rest = slashes == std::string::npos ? url : url.substr(slashes + 2);
  const size_t slash = rest.find('/');
  const std::string authority = rest.substr(0, slash);
  if (slash != std::string::npos) SetUri(rest.substr(slash));
  // A relative URL (a Location of "/path") keeps the current host and port.
  if (authority.empty()) return;
  const size_t colon = authority.find(':');
  SetHeader("host", authority.substr(0, colon));
  // A port left over from an earlier URL would send this one to the wrong
  // place, so it goes when the new URL names none.
  SetHeader("port", colon == std::string::npos ? std::string() : authority.substr(colon + 1));
}

int64_t THttpRequest::BodyLength() const {
  const int end = HeaderEnd();
  if (end < 0) return 0;
  int64_t length = 0;
  for (int i = end + 1; i < Count(); ++i) length += int64_t(FLines[size_t(i)].size()) + 2;
  return length;
}

void THttpRequest::BuildLogonRequest(const std::string &endpointUrl) {
  Clear();
  Add("PROPFIND /svcs/hotmail/httpmail.asp HTTP/1.1");
  Add("Depth: 0");
  Add("Content-Type: text/xml");
  Add("Brief: t");
  Add("User-Agent: Outlook Express/5.0 (MSIE 5.0; Windows NT; DigExt)");
  Add("Host: " + DefaultHost);
  Add("Content-Length: 341");
  Add("Connection: Keep-Alive");
  Add("");
  Add("<?xml version=\"1.0\"?>");
  Add(std::string("<D:propfind xmlns:D=\"DAV:\" xmlns:h=\"") + kServiceSchemaNamespace +
      "\" xmlns:hm=\"urn:schemas:httpmail:\">");
  Add("\t<D:prop>");
  for (const char *prop :
       {"h:adbar", "hm:contacts", "hm:inbox", "hm:outbox", "hm:sendmsg", "hm:sentitems",
        "hm:deleteditems", "hm:drafts", "hm:msgfolderroot", "h:sig"})
    Add(std::string("\t\t<") + prop + "/>");
  Add("\t</D:prop>");
  Add("</D:propfind>");
  if (!endpointUrl.empty()) SetUrl(endpointUrl);
}
