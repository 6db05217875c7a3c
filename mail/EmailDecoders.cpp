#include "mail/EmailDecoders.h"

#include "foundation/QuorUtil.h"

bool TMIMEDecoder::RunFramed(const std::function<void()> &work) {
  // A stop request means nothing was produced; answering true would let the
  // caller take the empty output for the part's real content.
  if (ProgressHook()) return false;
  try {
    work();
    return true;
  } catch (...) {
    return false;
  }
}

bool TMIMEDecoder::Decode(const TStringList &lines, std::string &stream) const {
  return RunFramed([&] {
    for (const std::string &line : lines) {
      std::string bytes = DecodeLine(line);
      if (!bytes.empty()) stream += bytes;
    }
  });
}

// ---- Binary, 7bit, 8bit --------------------------------------------------

const TBinaryDecoder &TBinaryDecoder::Instance() {
  static const TBinaryDecoder instance;
  return instance;
}

const T7BitDecoder &T7BitDecoder::Instance() {
  static const T7BitDecoder instance;
  return instance;
}

const T8BitDecoder &T8BitDecoder::Instance() {
  static const T8BitDecoder instance;
  return instance;
}

std::string TBinaryDecoder::DecodeLine(const std::string &line) const { return line + "\r\n"; }

std::string TBinaryDecoder::EncodeLine(const std::string &bytes) const { return bytes + "\r\n"; }

bool TBinaryDecoder::Decode(const TStringList &lines, std::string &stream) const {
  return RunFramed([&] { stream += JoinLines(lines); });
}

bool TBinaryDecoder::Encode(const std::string &stream, TStringList &lines) const {
  return RunFramed([&] {
    TStringList loaded = SplitLines(stream);
    lines.insert(lines.end(), std::make_move_iterator(loaded.begin()),
                 std::make_move_iterator(loaded.end()));
  });
}

// ---- Default (guessing) codec --------------------------------------------

const TDefaultDecoder &TDefaultDecoder::Instance() {
  static const TDefaultDecoder instance;
  return instance;
}

const TMIMEDecoder *TDefaultDecoder::PickDecoder(std::string_view content) {
  const TMIMEDecoder *picked = &T7BitDecoder::Instance();
  if (content.find("egin 6") != std::string_view::npos &&
      content.find("\r\nend\r\n") != std::string_view::npos)
    picked = &TUUDecoder::Instance();
  // A soft line break is the surest sign of quoted-printable; "==" at a line
  // end is more likely a ruler of equals signs in plain text. This test runs
  // last so that it wins over the uuencode guess.
  size_t softBreak = content.find("=\r\n");
  if (softBreak != std::string_view::npos && softBreak > 0 && content[softBreak - 1] != '=')
    picked = &TQuotedPrintableDecoder::Instance();
  return picked;
}

std::string TDefaultDecoder::DecodeLine(const std::string &line) const {
  return PickDecoder(line)->DecodeLine(line);
}

std::string TDefaultDecoder::EncodeLine(const std::string &bytes) const {
  return PickDecoder(bytes)->EncodeLine(bytes);
}

bool TDefaultDecoder::Decode(const TStringList &lines, std::string &stream) const {
  return PickDecoder(JoinLines(lines))->Decode(lines, stream);
}

bool TDefaultDecoder::Encode(const std::string &stream, TStringList &lines) const {
  const TMIMEDecoder *picked = PickDecoder(JoinLines(lines));
  TStringList encoded;
  bool ok = picked->Encode(stream, encoded);
  for (const std::string &line : encoded) {
    if (line.find_first_of("\r\n") == std::string::npos) {
      lines.push_back(line);
    } else {
      TStringList parts = SplitLines(line);
      lines.insert(lines.end(), parts.begin(), parts.end());
    }
  }
  return ok;
}

// ---- Lookup and whole-list helpers ---------------------------------------

const TMIMEDecoder *FindDecoder(std::string_view name) {
  const TMIMEDecoder *const all[] = {
      &TBase64Decoder::Instance(),  &TUUDecoder::Instance(),
      &TXUUDecoder::Instance(),     &TQuotedPrintableDecoder::Instance(),
      &TDefaultDecoder::Instance(), &TBinaryDecoder::Instance(),
      &T7BitDecoder::Instance(),    &T8BitDecoder::Instance(),
  };
  for (const TMIMEDecoder *decoder : all)
    if (SameText(name, decoder->DecoderName())) return decoder;
  return nullptr;
}

bool IsBinaryDecoder(const TMIMEDecoder *decoder) {
  return dynamic_cast<const TBinaryDecoder *>(decoder) != nullptr;
}

bool DecodeLines(const TMIMEDecoder *decoder, const TStringList &lines, TStringList &result) {
  if (IsBinaryDecoder(decoder)) {
    result = lines;
    return true;
  }
  std::string stream;
  bool ok = decoder->Decode(lines, stream);
  result = SplitLines(stream);
  return ok;
}

bool EncodeLinesInPlace(const TMIMEDecoder *decoder, TStringList &lines) {
  if (IsBinaryDecoder(decoder)) return true;
  std::string stream = JoinLines(lines);
  lines.clear();
  return decoder->Encode(stream, lines);
}
