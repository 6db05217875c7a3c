#include "mail/EmailMsgPart.h"

#include <algorithm>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "scraping/HtmlText.h"

const char *const kEncodedAttachmentMarker = "[[[ Snip --- Encoded attachment --- Snip ]]]\r\n";
const char *const kInlineAttachmentMarker = "[[[ Snip --- Inline attachment --- Snip ]]]\r\n";

namespace {

// A delimiter line is the delimiter at the start of a line, optionally
// followed by "--" (the closing one) and blanks. Matching it anywhere else in
// a line would cut a body line in two.
enum class TDelimiterKind { None, Separator, Closing };

TDelimiterKind ClassifyLine(std::string_view line, const std::string &delimiter) {
  if (line.size() < delimiter.size() || line.compare(0, delimiter.size(), delimiter) != 0)
    return TDelimiterKind::None;
  size_t pos = delimiter.size();
  bool closing = false;
  if (line.substr(pos, 2) == "--") {
    closing = true;
    pos += 2;
  }
  for (; pos < line.size(); ++pos)
    if (line[pos] != ' ' && line[pos] != '\t') return TDelimiterKind::None;
  return closing ? TDelimiterKind::Closing : TDelimiterKind::Separator;
}

}  // namespace

// ---- Collection ------------------------------------------------------------

TEmailMsgPartCollection::~TEmailMsgPartCollection() { Clear(); }

void TEmailMsgPartCollection::Clear() {
  // Sub-parts go before their parents; each part's destructor empties its
  // own collection first.
  while (!FItems.empty()) FItems.pop_back();
}

int TEmailMsgPartCollection::IndexOf(const TEmailMsgPart *part) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == part) return int(i);
  return -1;
}

TEmailMsgPart *TEmailMsgPartCollection::AddPart(TEmailHeader *header) {
  return InsertPart(-1, header);
}

TEmailMsgPart *TEmailMsgPartCollection::InsertPart(int index, TEmailHeader *header) {
  auto part = std::make_unique<TEmailMsgPart>(this, header);
  TEmailMsgPart *result = part.get();
  Attach(std::move(part), index);
  if (FOnPartCreated) FOnPartCreated(result);
  return result;
}

void TEmailMsgPartCollection::Attach(std::unique_ptr<TEmailMsgPart> part, int index) {
  if (!part) return;
  part->FOwnerCollection = this;
  if (index < 0 || index >= Count()) {
    FItems.push_back(std::move(part));
  } else {
    FItems.insert(FItems.begin() + index, std::move(part));
  }
}

std::unique_ptr<TEmailMsgPart> TEmailMsgPartCollection::Detach(TEmailMsgPart *part) {
  int index = IndexOf(part);
  if (index < 0) return nullptr;
  std::unique_ptr<TEmailMsgPart> result = std::move(FItems[size_t(index)]);
  FItems.erase(FItems.begin() + index);
  result->FOwnerCollection = nullptr;
  return result;
}

std::unique_ptr<TEmailMsgPart> TEmailMsgPartCollection::SetItem(
    int index, std::unique_ptr<TEmailMsgPart> part) {
  if (index < 0 || index >= Count() || !part) return part;
  part->FOwnerCollection = this;
  std::swap(FItems[size_t(index)], part);
  part->FOwnerCollection = nullptr;
  return part;
}

TEmailMsgPart *TEmailMsgPartCollection::FindPart(const TPartPredicate &predicate,
                                                 TEmailHeader *header) const {
  for (const auto &part : FItems) {
    if (predicate(part.get(), header)) return part.get();
    if (TEmailMsgPart *found = part->FParts.FindPart(predicate, header)) return found;
  }
  return nullptr;
}

// ---- Part ------------------------------------------------------------------

TEmailMsgPart::TEmailMsgPart(TEmailMsgPartCollection *collection, TEmailHeader *header)
    : FParts(collection ? collection->Level() + 1 : 1),
      FHeader(header),
      FOwnerCollection(collection) {
  if (FHeader) FHeader->NoteOwningPart(this, FAlive);
}

void TEmailMsgPart::SetHeader(TEmailHeader *header) {
  FHeader = header;
  if (FHeader) FHeader->NoteOwningPart(this, FAlive);
}

TEmailMsgPart::~TEmailMsgPart() = default;

TEmailMsg *TEmailMsgPart::Message() const { return FHeader ? FHeader->Owner() : nullptr; }

void TEmailMsgPart::RawChanged() {
  FDecodedTextNoSubpartsCache.clear();
  if (TEmailMsg *msg = Message()) msg->SetModified(true);
}

void TEmailMsgPart::SetRawText(TStringList lines) {
  FRawText = TLineBlock(lines);
  RawChanged();
}

const TLineBlock &TEmailMsgPart::RawLines() {
  if (FRawText.Empty() && !FDecodedTextNoSubpartsCache.empty()) {
    const TMIMEDecoder *decoder = nullptr;
    if (FHeader) FHeader->GetDecoderClass(decoder);
    TStringList lines;
    if (!decoder || IsBinaryDecoder(decoder)) {
      lines = SplitLines(FDecodedTextNoSubpartsCache);
    } else {
      decoder->Encode(FDecodedTextNoSubpartsCache, lines);
    }
    FRawText = TLineBlock(lines);
  }
  return FRawText;
}

bool TEmailMsgPart::IsPreamble() const {
  return FHeader && FOwnerCollection && FOwnerCollection->Items(0) == this &&
         FHeader->IsMultipart();
}

bool TEmailMsgPart::WritesOwnHeader() {
  if (!FHeader) return false;
  TEmailMsg *msg = Message();
  if (msg && msg->MainHeader() == FHeader) return false;
  for (int i = 0; i < FParts.Count(); ++i)
    if (FParts.Items(i)->FHeader == FHeader) return false;
  return true;
}

bool TEmailMsgPart::WriteTo(TStringList &lines, bool full) {
  TLineListSink sink(lines);
  return WriteTo(sink, full);
}

void TEmailMsgPart::WriteHeader(TLineSink &sink) {
  TStringList headerLines;
  FHeader->SaveToLines(headerLines);
  for (const std::string &line : headerLines) sink.Add(line);
  if (!FHeader->NoSeparator()) sink.Add(std::string());
}

bool TEmailMsgPart::WriteTo(TLineSink &sink, bool full) { return WriteTo(sink, full, nullptr); }

bool TEmailMsgPart::WriteTo(TLineSink &sink, bool full, const TEmailHeader *writtenHeader) {
  if (FHeader != writtenHeader && WritesOwnHeader()) WriteHeader(sink);
  bool result = true;
  const TMIMEDecoder *decoder = nullptr;
  bool named = FParts.Count() > 0 && FHeader && FHeader->GetDecoderClass(decoder);
  if (!named || !decoder || IsBinaryDecoder(decoder)) {
    result = WriteBody(sink, full);
  } else {
    // Sub-parts of a transfer-encoded part (a base64 message/rfc822) were
    // parsed from the decoded text and have to be encoded again. The header
    // that a preamble sub-part shares stays outside the encoding.
    const TEmailHeader *shared = nullptr;
    TEmailMsg *msg = Message();
    if (FParts.Items(0)->FHeader == FHeader && !(msg && msg->MainHeader() == FHeader)) {
      WriteHeader(sink);
      shared = FHeader;
    }
    TStringList body;
    TLineListSink bodySink(body);
    result = WriteBody(bodySink, full, shared);
    EncodeLinesInPlace(decoder, body);
    for (const std::string &line : body) sink.Add(line);
  }
  // Only parts inside a multipart are followed by a delimiter line; writing
  // an empty line for the others would grow the body by one line on every
  // round trip.
  if (!FBoundaryLine.empty()) sink.Add(FBoundaryLine);
  return result;
}

bool TEmailMsgPart::WriteBody(TStringList &lines, bool full) {
  TLineListSink sink(lines);
  return WriteBody(sink, full);
}

bool TEmailMsgPart::WriteBody(TLineSink &sink, bool full) { return WriteBody(sink, full, nullptr); }

bool TEmailMsgPart::WriteBody(TLineSink &sink, bool full, const TEmailHeader *writtenHeader) {
  bool result = true;
  if (!FHeader) {
    WriteRawLines(sink);
    return true;
  }
  if (FHeader->IsMultipart() || FHeader->IsEmbeddedMessage())
    for (int i = 0; i < FParts.Count(); ++i)
      result = FParts.Items(i)->WriteTo(sink, full, writtenHeader) && result;
  if (!full && FHeader->IsAttachment()) {
    sink.Add(kEncodedAttachmentMarker);
  } else if (full || !FHeader->IsInlineAttachment()) {
    WriteRawLines(sink);
  } else {
    sink.Add(kInlineAttachmentMarker);
  }
  return result;
}

void TEmailMsgPart::WriteRawLines(TLineSink &sink) {
  const TLineBlock &lines = RawLines();
  for (size_t i = 0; i < lines.Count(); ++i) sink.Add(lines[i]);
}

bool TEmailMsgPart::SplitAt(TStringList &lines, const std::string &delimiter, bool full) {
  TLineBlock block(lines);
  TLineReader reader(block);
  bool result = SplitAt(reader, delimiter, full);
  lines.erase(lines.begin(), lines.begin() + std::ptrdiff_t(reader.Pos));
  return result;
}

bool TEmailMsgPart::SplitAt(TLineReader &reader, const std::string &delimiter, bool full) {
  if (reader.AtEnd()) return true;
  const TLineBlock &lines = reader.Lines;
  bool result = true;
  // Released, not just cleared: a part split again must not keep the
  // capacity of a larger earlier body.
  FRawText.Release();
  if (!delimiter.empty()) {
    size_t i = reader.Pos;
    TDelimiterKind kind = TDelimiterKind::None;
    for (; i < lines.Count(); ++i) {
      kind = ClassifyLine(lines[i], delimiter);
      if (kind != TDelimiterKind::None) break;
    }
    if (kind != TDelimiterKind::None) {
      FRawText.AddRange(lines, reader.Pos, i);
      FBoundaryLine = std::string(lines[i]);
      reader.Pos = i + 1;
      result = kind == TDelimiterKind::Closing;
    } else {
      FRawText.AddRange(lines, reader.Pos, lines.Count());
      reader.Pos = lines.Count();
      if (FHeader) FHeader->AddDiagnostics(hd_DelimiterMissing);
      FBoundaryLine = delimiter + "--";
    }
  } else {
    FRawText.AddRange(lines, reader.Pos, lines.Count());
    reader.Pos = lines.Count();
  }
  RawChanged();
  ParseSubparts(full);
  return result;
}

bool TEmailMsgPart::HasDelimiterLine(const TLineReader &reader, const std::string &delimiter) {
  if (delimiter.empty()) return false;
  for (size_t i = reader.Pos; i < reader.Lines.Count(); ++i)
    if (ClassifyLine(reader.Lines[i], delimiter) != TDelimiterKind::None) return true;
  return false;
}

void TEmailMsgPart::SplitIntoSubparts(TLineReader &reader, bool full) {
  TEmailMsg *msg = Message();
  std::string delimiter;
  TEmailMsgPart *part;
  if (FHeader->IsMultipart()) {
    FHeader->GetBoundaryDelimiter(delimiter);
    part = FParts.AddPart(FHeader);
  } else {
    TEmailHeader *header = msg->CreateHeader();
    header->LoadFromReader(reader, true);
    header->GetBoundaryDelimiter(delimiter);
    part = FParts.AddPart(header);
  }
  part->FParseSubparts = FParseSubparts;
  // A body without a single delimiter line has no parts: inventing a closing
  // line for it would be read by an enclosing multipart that uses the same
  // boundary, and change the message on every round trip. The header that
  // named the boundary still learns that no delimiter came.
  if (!HasDelimiterLine(reader, delimiter)) {
    if (!delimiter.empty() && part->FHeader) part->FHeader->AddDiagnostics(hd_DelimiterMissing);
    part->SplitAt(reader, std::string(), full);
    return;
  }
  while (!part->SplitAt(reader, delimiter, full)) {
    TEmailHeader *header = msg->CreateHeader();
    header->LoadFromReader(reader, false);
    part = FParts.AddPart(header);
    part->FParseSubparts = FParseSubparts;
  }
}

bool TEmailMsgPart::ParseSubparts(bool full) {
  if (!FParseSubparts || !FHeader || !Message() || IsPreamble()) return false;
  if (Level() >= kMaxPartDepth) return false;
  bool multipart = FHeader->IsMultipart();
  if (!multipart && !FHeader->IsEmbeddedMessage()) return false;
  const TMIMEDecoder *decoder = nullptr;
  bool named = FHeader->GetDecoderClass(decoder);
  if (!named || !decoder || IsBinaryDecoder(decoder)) {
    // Split in place: what is left over is the epilogue.
    TLineReader reader(FRawText);
    SplitIntoSubparts(reader, full);
    reader.Compact();
  } else {
    // The body has to be decoded before it can be split; writing encodes the
    // sub-parts again. Splitting the encoded text instead would read base64
    // lines as header lines and lose them.
    TLineBlock decoded;
    if (FRawText.Empty()) {
      // nothing to split
    } else if (decoder == &TQuotedPrintableDecoder::Instance()) {
      // Quoted-printable decodes lines joined by CR LF without a final one,
      // so every CR LF in the result separates two lines: splitting it that
      // way keeps a trailing empty line that writing will encode again.
      std::string bytes;
      decoder->Decode(FRawText.ToList(), bytes);
      size_t pos = 0;
      for (;;) {
        size_t brk = bytes.find("\r\n", pos);
        decoded.Add(
            std::string_view(bytes).substr(pos, brk == std::string::npos ? brk : brk - pos));
        if (brk == std::string::npos) break;
        pos = brk + 2;
      }
    } else {
      TStringList lines;
      DecodeLines(decoder, FRawText.ToList(), lines);
      decoded = TLineBlock(lines);
    }
    FRawText.Release();
    TLineReader reader(decoded);
    SplitIntoSubparts(reader, full);
  }
  FDecodedTextNoSubpartsCache.clear();
  return true;
}

bool TEmailMsgPart::DecodeToStringList(TStringList &lines, bool withSubparts) {
  const TMIMEDecoder *decoder = nullptr;
  bool result = FHeader && FHeader->GetDecoderClass(decoder);
  if (!decoder) decoder = &TBinaryDecoder::Instance();
  lines.clear();
  if (withSubparts && FParts.Count() > 0) {
    WriteBody(lines, true);
  } else if (!FRawText.Empty() && IsBinaryDecoder(decoder)) {
    lines = FRawText.ToList();
  } else {
    if (FDecodedTextNoSubpartsCache.empty()) {
      result = decoder->Decode(FGetRawText(), FDecodedTextNoSubpartsCache);
    } else {
      result = true;
    }
    lines = SplitLines(FDecodedTextNoSubpartsCache);
  }
  return result;
}

bool TEmailMsgPart::DecodeToStream(std::string &stream, bool withSubparts) {
  if (withSubparts && FParts.Count() > 0) {
    TTextSink sink(stream);
    return WriteBody(sink, true);
  }
  if (!FDecodedTextNoSubpartsCache.empty()) {
    stream += FDecodedTextNoSubpartsCache;
    return true;
  }
  const TMIMEDecoder *decoder = nullptr;
  bool result = FHeader && FHeader->GetDecoderClass(decoder);
  if (!decoder) decoder = &TBinaryDecoder::Instance();
  if (IsBinaryDecoder(decoder)) {
    stream += FRawText.Join();
    return result;
  }
  std::string decoded;
  if (!decoder->Decode(FRawText.ToList(), decoded)) {
    stream += FRawText.Join();
    return false;
  }
  FDecodedTextNoSubpartsCache = std::move(decoded);
  stream += FDecodedTextNoSubpartsCache;
  return result;
}

bool TEmailMsgPart::EncodeFromStringList(const TStringList &lines, bool full) {
  const TMIMEDecoder *decoder = nullptr;
  bool result = FHeader && FHeader->GetDecoderClass(decoder);
  if (!decoder) decoder = &TBinaryDecoder::Instance();
  FRawText.Release();
  RawChanged();
  bool container = FHeader && (FHeader->IsMultipart() || FHeader->IsEmbeddedMessage());
  if ((full && FParseSubparts) || container) {
    // The sub-parts' headers belong to the message and stay with it.
    FParts.Clear();
    TStringList copy = lines;
    SplitAt(copy, std::string(), true);
  } else if (IsBinaryDecoder(decoder)) {
    FRawText = TLineBlock(lines);
  } else {
    FDecodedTextNoSubpartsCache = JoinLines(lines);
  }
  return result;
}

bool TEmailMsgPart::EncodeFromStream(const std::string &stream, bool full) {
  const TMIMEDecoder *decoder = nullptr;
  bool result = FHeader && FHeader->GetDecoderClass(decoder);
  if (!decoder) decoder = &TBinaryDecoder::Instance();
  FRawText.Release();
  RawChanged();
  bool container = FHeader && (FHeader->IsMultipart() || FHeader->IsEmbeddedMessage());
  if (full || container) {
    FParts.Clear();
    TStringList lines = SplitLines(stream);
    SplitAt(lines, std::string(), false);
  } else if (IsBinaryDecoder(decoder)) {
    FRawText = TLineBlock(SplitLines(stream));
  } else {
    FDecodedTextNoSubpartsCache = stream;
  }
  return result;
}

uint16_t TEmailMsgPart::CollectText(TStringList &lines, bool withSubparts) {
  uint16_t result = withSubparts ? 0x100 : 0;
  if (FHeader && (FHeader->IsPlainText() || FHeader->IsHtml())) {
    std::string text;
    if (FHeader->IsEncoded()) {
      DecodeToStream(text, true);
    } else {
      text = RawLines().Join();
    }
    if (FHeader->IsHtml()) HtmlToText(text);
    for (std::string &line : SplitLines(text)) lines.push_back(std::move(line));
    result |= 1;
  }
  if (withSubparts)
    for (int i = 0; i < FParts.Count(); ++i)
      result |= FParts.Items(i)->CollectText(lines, true) & 1;
  return result;
}

void TEmailMsgPart::FindBodyPartsIn(TEmailMsgPart *part, TEmailMsgPart *&plainPart,
                                    TEmailMsgPart *&htmlPart) {
  if (!part || !part->FHeader) return;
  TEmailHeader *h = part->FHeader;
  if (h->IsInline() && !h->IsAttachment() && !h->IsEmbeddedMessage() &&
      !h->IsEmbeddedMessagePart() && !h->IsMultipart()) {
    if (h->IsPlainText()) {
      if (!plainPart) plainPart = part;
    } else if (h->IsHtml()) {
      if (!htmlPart) htmlPart = part;
    }
  }
  for (int i = 0; i < part->FParts.Count(); ++i) {
    TEmailMsgPart *sub = part->FParts.Items(i);
    if (!sub->FHeader || sub->FHeader->IsAttachment()) continue;
    if (!plainPart && sub->FHeader->IsPlainText()) plainPart = sub;
    if (!htmlPart && sub->FHeader->IsHtml()) htmlPart = sub;
    if (!plainPart || !htmlPart) FindBodyPartsIn(sub, plainPart, htmlPart);
  }
}
