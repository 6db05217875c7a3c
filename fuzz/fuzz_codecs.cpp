// Every transfer codec over arbitrary input. The first byte picks the codec;
// the rest is decoded as lines and, as bytes, encoded and decoded back, which
// must give the bytes again (line lists for quoted-printable, whose unit is
// the line).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/EmailDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  static const char *const kNames[] = {"base64",           "uuencode", "x-uuencode",
                                       "quoted-printable", "default",  "7bit"};
  const TMIMEDecoder *codec = FindDecoder(kNames[data[0] % 6]);
  std::string input(reinterpret_cast<const char *>(data + 1), size - 1);

  TStringList lines = SplitLines(input), decoded;
  DecodeLines(codec, lines, decoded);
  for (const std::string &line : lines) {
    try {
      codec->DecodeLine(line);
    } catch (const EDecoderError &) {
      // uuencode reports a bad line this way; nothing else may throw
    }
  }

  if (codec == FindDecoder("base64") || codec == FindDecoder("uuencode")) {
    TStringList encoded;
    std::string back;
    if (!codec->Encode(input, encoded) || !codec->Decode(encoded, back) || back != input) abort();
  } else if (codec == FindDecoder("quoted-printable")) {
    TStringList copy = lines, back;
    if (!EncodeLinesInPlace(codec, copy) || !DecodeLines(codec, copy, back)) abort();
    // The decoded text carries no line end after its last line, so empty
    // lines at the very end do not come back.
    TStringList expected = lines;
    while (!expected.empty() && expected.back().empty()) expected.pop_back();
    while (!back.empty() && back.back().empty()) back.pop_back();
    if (back != expected) abort();
    for (const std::string &line : copy)
      if (line.size() > 76) abort();
  }
  return 0;
}
