// The three date readers over arbitrary text. Whatever they accept must be a
// real date that formats and reads back the same.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/Rfc822Date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);

  TDateTime dt = 0;
  double zone = 0;
  uint16_t result = ParseRfc822Date(text, dt, zone);
  if (!std::isfinite(dt) || !std::isfinite(zone)) abort();
  // Every problem sets bit 1 together with a bit that says which.
  const uint16_t kWhich = 0x2 | 0x20 | 0x40 | 0x80 | 0x100 | 0x200 | 0x800 | 0x1000;
  if ((result & 1) != 0 && (result & kWhich) == 0) abort();
  if ((result & kWhich) != 0 && (result & 1) == 0) abort();
  if ((result & ~rd_YearCompleted) == rd_ZoneNumeric && std::fabs(zone) < 1) {
    // A clean date: it must survive being written and read again.
    TDateTime again = 0;
    double zoneAgain = 0;
    if (ParseRfc822Date(FormatRfc822Date(zone, dt), again, zoneAgain) != rd_ZoneNumeric) abort();
    if (std::fabs(again - dt) > 1.0 / 86400 || std::fabs(zoneAgain - zone) > 1.0 / 1440) abort();
  }

  TDateTime iso = 0;
  if (ParseIsoDate(text, iso) && !(iso >= -693593 && iso < 2958466)) abort();
  TDateTime loose = 0;
  ParseLooseDate(text, loose);
  if (!std::isfinite(loose)) abort();
  return 0;
}
