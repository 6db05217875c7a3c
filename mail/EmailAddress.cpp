#include "mail/EmailAddress.h"

#include "foundation/StrUtil.h"

namespace {

bool IsAddressChar(char ch) {
  unsigned char c = (unsigned char)ch;
  if (c < 33 || c > 126) return false;
  switch (c) {
    case '"':
    case '#':
    case '%':
    case '&':
    case '(':
    case ')':
    case '*':
    case '/':
    case ';':
    case '<':
    case '>':
    case '[':
    case ']':
    case '\\':
    case '{':
    case '}':
    case '|':
      return false;
    default:
      return true;
  }
}

bool IsValidDomain(std::string_view domain) {
  if (domain.size() <= 3 || domain[0] == '.') return false;
  if (domain.find('.') == std::string_view::npos) return false;
  if (domain.find("..") != std::string_view::npos) return false;
  for (char ch : domain) {
    char c = LowCaseChar(ch);
    bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '@';
    if (!ok) return false;
  }
  std::string_view top = domain.substr(domain.rfind('.') + 1);
  if (top.size() < 2) return false;
  for (char c : top)
    if (c >= '0' && c <= '9') return false;
  return true;
}

}  // namespace

uint8_t ValidateAddress(std::string_view rawAddress) {
  const std::string address = Trim(rawAddress);
  uint8_t result = 0;
  if (address.size() < 6 || address.find(' ') != std::string::npos) result |= af_Invalid;

  size_t ats = 0;
  for (char c : address)
    if (c == '@') ++ats;
  if (ats == 0) return af_Invalid;

  if (ats > 1) {
    result |= af_SourceRoute;
    size_t colon = address.find(':');
    if (colon == std::string::npos) return result | af_Invalid;
    std::string route = Trim(address.substr(0, colon));
    std::string mailbox = Trim(address.substr(colon + 1));
    // The route is a list of "@host" pieces separated by commas.
    for (;;) {
      if (route.size() < 2 || route[0] != '@') return result | af_Invalid;
      size_t comma = route.find(',');
      if (comma == std::string::npos) break;
      route = Trim(route.substr(comma + 1));
    }
    size_t mailboxAts = 0;
    for (char c : mailbox)
      if (c == '@') ++mailboxAts;
    if (mailboxAts > 1) return result | af_Invalid;
    return result | ValidateAddress(mailbox);
  }

  for (char c : address)
    if (!IsAddressChar(c)) return result | af_Invalid;
  size_t at = address.find('@');
  std::string_view domain = std::string_view(address).substr(at + 1, 999);
  if (!IsValidDomain(domain)) result |= af_Invalid;
  if (at == 0) result |= af_Invalid;
  return result;
}

void TEmailAddress::SetText(std::string_view text) {
  FName.clear();
  FAddress.clear();
  FAddressFlags = 0;
  FNameKind = nk_None;
  FText = std::string(text);
  std::string s = Trim(text);

  size_t lt = s.find('<');
  size_t at = s.find('@');
  if (lt != std::string::npos) {
    size_t gt = s.find('>');
    size_t end;  // position of the character that ends the address
    bool endIsChar;
    if (gt == std::string::npos || gt < lt) {
      // No closing bracket: the address runs from the "@" to the first
      // character that cannot belong to a header line.
      FAddressFlags = af_Invalid;
      if (at == std::string::npos) {
        end = lt + 1;
        endIsChar = false;
      } else {
        end = at + 1;
        while (end < s.size() && (unsigned char)s[end] >= 32 && (unsigned char)s[end] <= 127) ++end;
        endIsChar = end < s.size();
      }
    } else {
      FAddressFlags |= af_AngleBrackets;
      end = gt;
      endIsChar = true;
    }
    if (end < lt + 1) end = lt + 1;  // an "@" before the "<" leaves nothing between them
    FAddress = s.substr(lt + 1, end - lt - 1);
    FAddressFlags |= ValidateAddress(FAddress);
    size_t cutEnd = endIsChar ? end + 1 : end;
    s.erase(lt, cutEnd - lt);
  } else if (at != std::string::npos) {
    size_t left = at;
    while (left > 0 && IsAddressChar(s[left - 1])) --left;
    // The scan stops in front of the first character that cannot be part of
    // an address, so a comment written directly after it stays a comment.
    size_t right = at + 1;
    while (right < s.size() && IsAddressChar(s[right])) ++right;
    FAddress = s.substr(left, right - left);
    FAddressFlags = ValidateAddress(FAddress) | af_Bare;
    s.erase(left, right - left);
  } else {
    FAddressFlags = af_Invalid;
  }
  FAddress = Trim(FAddress);

  size_t quote = s.find('"');
  size_t paren = s.find('(');
  if (quote != std::string::npos) {
    s[quote] = ' ';
    size_t closing = s.find('"', quote + 1);
    if (closing != std::string::npos) {
      FName = s.substr(quote + 1, closing - quote - 1);
      FNameKind = nk_Quoted;
    }
  } else if (paren != std::string::npos) {
    size_t closing = s.find(')', paren + 1);
    if (closing != std::string::npos) {
      FName = s.substr(paren + 1, closing - paren - 1);
      FNameKind = nk_Comment;
    } else {
      FName = s.substr(paren + 1, 99);
    }
  } else {
    std::string rest = Trim(s);
    for (char c : rest)
      if ((unsigned char)c >= 32) FName += c;
    if (!FName.empty()) FNameKind = nk_Plain;
  }
  FName = Trim(FName);
  if (FAddress == "Undisclosed.Recipients") FAddressFlags |= af_Undisclosed;
}

TEmailAddress *TEmailAddressCollection::Add() {
  FItems.push_back(std::make_unique<TEmailAddress>());
  return FItems.back().get();
}

bool TEmailAddressCollection::SetText(std::string_view text) {
  bool allValid = true;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      if (start < text.size()) {
        TEmailAddress *item = Add();
        item->SetText(text.substr(start));
        allValid = allValid && item->IsValid();
      }
      break;
    }
    TEmailAddress *item = Add();
    item->SetText(text.substr(start, comma - start));
    allValid = allValid && item->IsValid();
    start = comma + 1;
  }
  return allValid;
}
