#pragma once
// Addresses split into their parts, with the query kept as decoded
// name=value lines, and the percent-encoding both ways.
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/StrUtil.h"

// The port a freshly constructed address carries before anything is parsed.
extern int32_t QuorUrlDefaultPort;

class TQuorUrl {
 public:
  TQuorUrl();

  // The query parameters as decoded "name=value" lines, in address order.
  TStringList Lines;

  std::string Protocol;
  std::string User;
  std::string Password;
  std::string Host;
  int32_t Port;
  std::string Path;
  std::string Document;

  void Parse(std::string_view address);
  std::string FullUrl() const;
  // Path, document and query, always starting with "/".
  std::string RequestPath() const;
  // The encoded query, without "?".
  std::string QueryText() const;
  void SetQueryText(std::string_view text);

  // Name lookups over Lines, ignoring case, like a name=value string list.
  int IndexOfName(std::string_view name) const;
  std::string Value(std::string_view name) const;
  // An empty value removes the line; a name not present is appended.
  void SetValue(std::string_view name, std::string_view value);
};

// The decoded value of one query parameter of Address; empty when absent.
std::string GetQueryParam(std::string_view address, std::string_view name);
// Sets (or, with an empty value, removes) one query parameter of Address.
void SetQueryParam(std::string_view name, std::string_view value, std::string &address);

// Percent-encodes every byte that is not address-safe, and "%" and "+".
std::string EncodeUrlText(std::string_view text);
// "+" becomes a blank and "%XX" its byte; a malformed escape stays as written.
std::string DecodeUrlText(std::string_view text);
