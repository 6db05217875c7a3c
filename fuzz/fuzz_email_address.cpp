// Address headers from outside.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/EmailAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  TEmailAddressCollection addresses;
  bool valid = addresses.SetText(text);
  bool anyInvalid = false;
  for (int i = 0; i < addresses.Count(); ++i) {
    const TEmailAddress *a = addresses.Items(i);
    anyInvalid = anyInvalid || !a->IsValid();
    // A well-formed address validates on its own as well.
    if (a->IsValid() && (ValidateAddress(a->Address()) & af_Invalid)) std::abort();
  }
  if (valid == anyInvalid) std::abort();
  ValidateAddress(text);
  return 0;
}
