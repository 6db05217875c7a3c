// Settings files are edited by hand and may be torn or foreign: loading must
// survive anything, in both the plain and the enciphered form, and what it
// saves must load back to the same sections.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/QuorIniFile.h"
#include "config/ValueScrambler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  // The first byte chooses the form and the duplicate rule.
  const bool encipher = size > 0 && (data[0] & 1);
  if (encipher) text = TQuorIniFile::Encipher(text.substr(1));

  TQuorIniFile ini("", true, size > 0 && (data[0] & 2));
  ini.LoadFromText(text);
  (void)ini.ReadString("Receiving", "PopPort", "110");
  (void)ini.ReadBool("Receiving", "MarkRead", true);
  ini.WriteString("Log", "LogDays", "3");
  (void)UnscrambleValue(ini.ReadString("Application", "cnonce", ""));

  const std::string saved = ini.SaveToText();
  TQuorIniFile again("", true);
  again.LoadFromText(saved);
  // Saving leaves out empty sections and the reloaded text must match.
  if (again.SaveToText() != saved) std::abort();
  if (again.ReadString("Log", "LogDays", "") != "3") std::abort();
  return 0;
}
