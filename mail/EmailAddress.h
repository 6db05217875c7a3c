#pragma once
// Mailbox specifications as they appear in address headers ("To", "CC"). The
// gateway only reads addresses; it never formats an address list back into
// header text.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Validity bits; 0 means a well-formed address.
enum : uint8_t {
  af_Invalid = 1,
  af_AngleBrackets = 2,
  af_Bare = 4,
  af_SourceRoute = 8,
  af_Undisclosed = 16,
};

// Where the display name came from.
enum : uint8_t {
  nk_None = 0,
  nk_Quoted = 1,
  nk_Plain = 2,
  nk_Comment = 3,
};

uint8_t ValidateAddress(std::string_view address);

class TEmailAddress {
 public:
  void SetText(std::string_view text);

  const std::string &Text() const { return FText; }
  const std::string &Name() const { return FName; }
  const std::string &Address() const { return FAddress; }
  uint8_t AddressFlags() const { return FAddressFlags; }
  uint8_t NameKind() const { return FNameKind; }
  bool IsValid() const { return (FAddressFlags & af_Invalid) == 0; }

 private:
  std::string FText;
  std::string FName;
  std::string FAddress;
  uint8_t FAddressFlags = 0;
  uint8_t FNameKind = nk_None;
};

class TEmailAddressCollection {
 public:
  // Appends one item per comma-separated piece of Text. False when any of
  // the new items is invalid.
  bool SetText(std::string_view text);
  TEmailAddress *Add();

  int Count() const { return int(FItems.size()); }
  TEmailAddress *Items(int index) const {
    return index >= 0 && index < Count() ? FItems[size_t(index)].get() : nullptr;
  }
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TEmailAddress>> FItems;
};
