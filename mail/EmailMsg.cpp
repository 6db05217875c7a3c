#include "mail/EmailMsg.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

#include "foundation/QuorUtil.h"
#include "mail/EmailDecoders.h"
#include "scraping/HtmlEntities.h"

namespace {

constexpr int kBoundaryRandomChars = 20;
// A boundary that was never declared is looked for among this many lines.
constexpr size_t kBoundaryGuessLines = 11;

std::string NewBoundary(const char *prefix) { return prefix + RandomText(kBoundaryRandomChars); }

std::string QuotedBoundaryType(const char *type, const std::string &boundary) {
  return std::string(type) + "; boundary=\"" + boundary + "\"";
}

std::string EnvelopeItem(const std::string &item) {
  if (item.find_first_of(" ,\"") == std::string::npos && !item.empty()) return item;
  std::string quoted(1, '"');
  quoted += ReplaceAll(item, "\"", "\"\"");
  quoted += '"';
  return quoted;
}

TStringList ParseEnvelope(std::string_view text) {
  TStringList items;
  size_t pos = 0;
  for (;;) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    std::string item;
    if (pos < text.size() && text[pos] == '"') {
      ++pos;
      while (pos < text.size()) {
        if (text[pos] == '"') {
          if (pos + 1 < text.size() && text[pos + 1] == '"') {
            item += '"';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item += text[pos++];
      }
      while (pos < text.size() && text[pos] != ',') ++pos;
    } else {
      size_t comma = text.find(',', pos);
      item = Trim(
          text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
      pos = comma == std::string_view::npos ? text.size() : comma;
    }
    items.push_back(item);
    if (pos >= text.size()) break;
    ++pos;  // the comma
  }
  if (items.size() == 1 && items[0].empty()) items.clear();
  return items;
}

// Parts of a collection are separated by Delimiter and the last is closed
// by Delimiter "--".
void SetDelimiters(TEmailMsgPartCollection &parts, const std::string &delimiter) {
  for (int i = 0; i < parts.Count(); ++i)
    parts.Items(i)->SetBoundaryLine(i + 1 == parts.Count() ? delimiter + "--" : delimiter);
}

}  // namespace

TEmailMsg::TEmailMsg()
    : FLock("EmailMsg_CS"), FParts(std::make_unique<TEmailMsgPartCollection>(0)) {
  FHeader = CreateHeader();
}

TEmailMsg::~TEmailMsg() {
  try {
    if (FSaveOnDestroy) {
      if (FModified) {
        SaveToFile();
      } else if (HasRawMail() && (FFileName.empty() || !std::filesystem::exists(FFileName))) {
        SaveToFile();
      }
    }
  } catch (...) {
    // A destructor must not throw; the message is lost either way.
  }
  // Parts use headers, so they go first.
  FParts.reset();
  FHeaders.clear();
}

TEmailHeader *TEmailMsg::CreateHeader() {
  FHeaders.push_back(std::make_unique<TEmailHeader>(this));
  return FHeaders.back().get();
}

void TEmailMsg::EnsureLoaded() {
  if (FRawMail.Empty() && !FParsed && !FFileName.empty()) {
    std::ifstream in(FFileName, std::ios::binary);
    if (in) LoadFromStream(in);
  }
}

void TEmailMsg::EnsureParsed() {
  EnsureLoaded();
  if (!FParsed) {
    TLineReader reader(FRawMail);
    ParseReader(reader);
    FRawMail.Release();
  }
}

TEmailHeader *TEmailMsg::Header() {
  TCriticalSectionGuard guard(FLock);
  EnsureParsed();
  return FHeader;
}

TEmailMsgPartCollection &TEmailMsg::Parts() {
  TCriticalSectionGuard guard(FLock);
  EnsureParsed();
  return *FParts;
}

bool TEmailMsg::HasRawMail() {
  TCriticalSectionGuard guard(FLock);
  return !FRawMail.Empty() || FParsed;
}

void TEmailMsg::Reset() {
  FParts = std::make_unique<TEmailMsgPartCollection>(0);
  FHeaders.clear();
  FHeader = CreateHeader();
  FRawMail.Release();
  FParsed = false;
}

bool TEmailMsg::SetRawMail(TStringList &lines) {
  TCriticalSectionGuard guard(FLock);
  if (FParsed) Reset();
  FModified = true;
  if (FParseOnLoad) return Parse(lines);
  FRawMail = TLineBlock(lines);
  TStringList().swap(lines);
  FLineCountHint = FRawMail.Count();
  FSizeHint = FRawMail.TextSize() + 2 * FRawMail.Count();
  return true;
}

bool TEmailMsg::Text(std::string_view text) {
  TCriticalSectionGuard guard(FLock);
  TStringList lines = SplitLines(text);
  return SetRawMail(lines);
}

bool TEmailMsg::Parse(TStringList &lines) {
  TCriticalSectionGuard guard(FLock);
  TLineBlock block(lines);
  TLineReader reader(block);
  bool result = ParseReader(reader);
  lines.erase(lines.begin(), lines.begin() + std::ptrdiff_t(reader.Pos));
  return result;
}

bool TEmailMsg::ParseReader(TLineReader &reader) {
  FSize = -1;
  if (FParsed) {
    // The lines may be our own raw text: keep them out of the reset.
    TLineBlock keep;
    if (&reader.Lines == &FRawMail) std::swap(keep, FRawMail);
    Reset();
    if (!keep.Empty()) std::swap(FRawMail, keep);
  }
  FParsed = true;
  // Building the tree changes the form, not the message: a file that is
  // only read must not be rewritten when the message goes.
  const bool wasModified = FModified;
  bool result = FHeader->LoadFromReader(reader, true);

  if (FHeader->IsMultipart()) {
    std::string delimiter;
    FHeader->GetBoundaryDelimiter(delimiter);
    if (delimiter.empty()) {
      const TLineBlock &lines = reader.Lines;
      size_t last = lines.Count();
      while (last > reader.Pos && lines[last - 1].empty()) --last;
      if (last > reader.Pos && lines[last - 1].find("--") != std::string_view::npos &&
          lines[last - 1].size() >= 2) {
        delimiter = lines[last - 1].substr(0, lines[last - 1].size() - 2);
      } else {
        for (size_t i = reader.Pos; i < lines.Count() && i < reader.Pos + kBoundaryGuessLines; ++i)
          if (lines[i].substr(0, 2) == "--") {
            delimiter = lines[i];
            break;
          }
      }
      // A bare "--" names no boundary (it would match every dash line).
      if (delimiter.size() <= 2) delimiter.clear();
      // The header names the boundary without the two leading dashes, so
      // that header and delimiter lines agree when the message is written.
      if (!delimiter.empty())
        FHeader->SetBoundary(delimiter.rfind("--", 0) == 0 ? delimiter.substr(2) : delimiter);
    }
    TEmailMsgPart *part = FParts->AddPart(FHeader);
    part->SetParseSubpartsFlag(FParseSubparts);
    if (!TEmailMsgPart::HasDelimiterLine(reader, delimiter)) {
      // One body, as the part's own split keeps it (no closing line is
      // invented), with the missing delimiter noted on the header.
      if (!delimiter.empty()) FHeader->AddDiagnostics(hd_DelimiterMissing);
      part->SplitAt(reader, std::string());
    } else {
      while (!part->SplitAt(reader, delimiter)) {
        TEmailHeader *header = CreateHeader();
        header->LoadFromReader(reader, false);
        part = FParts->AddPart(header);
        part->SetParseSubpartsFlag(FParseSubparts);
      }
    }
  } else if (FParseSubparts && FHeader->IsEmbeddedMessage()) {
    TEmailHeader *header = CreateHeader();
    header->LoadFromReader(reader, true);
    TEmailMsgPart *part = FParts->AddPart(header);
    part->SetParseSubpartsFlag(FParseSubparts);
    part->SplitAt(reader, std::string());
  } else {
    TEmailMsgPart *part = FParts->AddPart(FHeader);
    part->SetParseSubpartsFlag(FParseSubparts);
    part->SplitAt(reader, std::string());
  }
  FModified = wasModified;
  if (FAddBodyIfMissing) EnsureBody();
  return result;
}

bool TEmailMsg::WriteAll(TLineSink &sink, bool full) {
  TStringList headerLines;
  FHeader->SaveToLines(headerLines);
  for (const std::string &line : headerLines) sink.Add(line);
  if (!FHeader->NoSeparator()) sink.Add(std::string());
  bool result = true;
  for (int i = 0; i < FParts->Count(); ++i)
    result = FParts->Items(i)->WriteTo(sink, full) && result;
  return result;
}

bool TEmailMsg::GetRawMail(TStringList &lines, bool full) {
  TCriticalSectionGuard guard(FLock);
  EnsureLoaded();
  lines.clear();
  bool result = true;
  if (!FParsed && full) {
    lines = FRawMail.ToList();
  } else {
    EnsureParsed();
    lines.reserve(FLineCountHint + 16);
    TLineListSink sink(lines);
    result = WriteAll(sink, full);
  }
  int64_t size = 0;
  for (const std::string &line : lines) size += int64_t(line.size()) + 2;
  FSize = int32_t(size - 2);
  return result;
}

bool TEmailMsg::GetRawMailText(std::string &text, bool full) {
  TCriticalSectionGuard guard(FLock);
  EnsureLoaded();
  text.clear();
  // Growing a large text by doubling would hold it up to three times over.
  text.reserve(std::max(FSizeHint, FSize > 0 ? size_t(FSize) : 0) + 64);
  bool result = true;
  TTextSink sink(text);
  if (!FParsed && full) {
    for (size_t i = 0; i < FRawMail.Count(); ++i) sink.Add(FRawMail[i]);
  } else {
    EnsureParsed();
    result = WriteAll(sink, full);
  }
  FSize = int32_t(text.size()) - 2;
  return result;
}

bool TEmailMsg::SaveToStream(std::ostream &stream) {
  TCriticalSectionGuard guard(FLock);
  EnsureLoaded();
  FModified = false;
  std::string text;
  if (!FEnvelope.empty()) {
    text = kEnvelopePrefix;
    for (size_t i = 0; i < FEnvelope.size(); ++i) {
      if (i > 0) text += ',';
      text += EnvelopeItem(FEnvelope[i]);
    }
    text += "\r\n";
  }
  std::string body;
  if (FParsed) {
    GetRawMailText(body, true);
  } else {
    body = FRawMail.Join();
  }
  if (text.empty()) {
    text.swap(body);
  } else {
    text += body;
  }
  stream.write(text.data(), std::streamsize(text.size()));
  FSize = int32_t(text.size());
  return bool(stream);
}

bool TEmailMsg::LoadFromStream(std::istream &stream) {
  TCriticalSectionGuard guard(FLock);
  ProgressHook();
  if (FParsed) Reset();
  FRawMail.Release();
  // Split while reading into one compact block, so that a large message is
  // never held as one text and as lines at the same time.
  std::streampos start = stream.tellg();
  if (start != std::streampos(-1) && stream.seekg(0, std::ios::end)) {
    std::streamoff size = stream.tellg() - start;
    stream.seekg(start);
    if (size > 0) FRawMail.Reserve(size_t(size) / 64 + 16, size_t(size));
  }
  stream.clear();
  bool first = true;
  auto addLine = [&](std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first &&
        line.substr(0, std::char_traits<char>::length(kEnvelopePrefix)) == kEnvelopePrefix) {
      FEnvelope = ParseEnvelope(line.substr(7));
    } else {
      FRawMail.Add(line);
    }
    first = false;
  };
  std::string carry;
  int64_t total = 0;
  char buffer[1 << 16];
  while (stream.read(buffer, sizeof buffer) || stream.gcount() > 0) {
    std::string_view chunk(buffer, size_t(stream.gcount()));
    total += int64_t(chunk.size());
    size_t pos = 0;
    for (;;) {
      size_t lf = chunk.find('\n', pos);
      if (lf == std::string_view::npos) {
        carry.append(chunk.substr(pos));
        break;
      }
      std::string_view piece = chunk.substr(pos, lf - pos);
      if (carry.empty()) {
        addLine(piece);
      } else {
        carry.append(piece);
        addLine(carry);
        carry.clear();
      }
      pos = lf + 1;
    }
  }
  if (!carry.empty()) addLine(carry);
  FSize = int32_t(total);
  FSizeHint = size_t(total);
  FLineCountHint = FRawMail.Count();
  bool result = true;
  if (FParseOnLoad) {
    TLineReader reader(FRawMail);
    result = ParseReader(reader);
    FRawMail.Release();
  }
  FModified = false;
  return result;
}

bool TEmailMsg::ReadFromFile(const std::string &fileName) {
  TCriticalSectionGuard guard(FLock);
  FFileName = fileName;
  try {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(fileName, ec)) return false;
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return false;
    return LoadFromStream(in);
  } catch (const std::exception &) {
    return false;
  }
}

bool TEmailMsg::SaveToFile() {
  TCriticalSectionGuard guard(FLock);
  if (!HasRawMail()) return false;
  try {
    if (FFileName.empty()) FFileName = GetUniquePath(GetPrivateTempFolder(), "Temp", ".eml");
    std::ostringstream out;
    if (!SaveToStream(out)) return false;
    // Through a temporary file and a rename: a failure half-way never
    // leaves a truncated message behind.
    if (!WriteFileAtomically(FFileName, out.view())) {
      FModified = true;
      return false;
    }
    return true;
  } catch (const std::exception &) {
    FModified = true;
    return false;
  }
}

TEmailMsgPart *TEmailMsg::FindPart(const TPartPredicate &predicate, TEmailHeader *header) {
  TCriticalSectionGuard guard(FLock);
  return Parts().FindPart(predicate, header);
}

// ---- Reading the body ------------------------------------------------------

void TEmailMsg::GetPlainText(TStringList &lines, bool everything) {
  TCriticalSectionGuard guard(FLock);
  EnsureParsed();
  if (FParts->Count() == 0) return;
  bool collected = false;
  for (int i = 0; i < FParts->Count(); ++i) {
    TEmailMsgPart *part = FParts->Items(i);
    if (part->Header()->IsPlainText() && !part->Header()->IsAttachment())
      collected = (part->CollectText(lines, true) & 1) || collected;
  }
  if (!collected)
    for (int i = 0; i < FParts->Count(); ++i) {
      TEmailMsgPart *part = FParts->Items(i);
      if (part->Header()->IsHtml() && !part->Header()->IsAttachment())
        collected = (part->CollectText(lines, true) & 1) || collected;
    }
  if (everything || !collected)
    for (int i = 0; i < FParts->Count(); ++i) FParts->Items(i)->CollectText(lines, true);
}

void TEmailMsg::FindBodyParts(TEmailMsgPart *&plainPart, TEmailMsgPart *&htmlPart) {
  TCriticalSectionGuard guard(FLock);
  EnsureParsed();
  plainPart = nullptr;
  htmlPart = nullptr;
  for (int i = 0; i < FParts->Count(); ++i) {
    TEmailMsgPart *part = FParts->Items(i);
    TEmailHeader *h = part->Header();
    if (h->IsAttachment() || h->IsEmbeddedMessage()) continue;
    if (!plainPart && h->IsPlainText()) plainPart = part;
    if (!htmlPart && h->IsHtml()) htmlPart = part;
  }
  for (int i = 0; i < FParts->Count(); ++i) {
    TEmailMsgPart *part = FParts->Items(i);
    if (!part->Header()->IsMultipartAlternative() || part->IsPreamble()) continue;
    TEmailMsgPartCollection &subs = part->Parts();
    for (int j = 0; j < subs.Count(); ++j) {
      TEmailHeader *h = subs.Items(j)->Header();
      if (h->IsAttachment() || h->IsEmbeddedMessage()) continue;
      if (!plainPart && h->IsPlainText()) plainPart = subs.Items(j);
      if (!htmlPart && h->IsHtml()) htmlPart = subs.Items(j);
    }
    return;
  }
  for (int i = 0; i < FParts->Count(); ++i)
    TEmailMsgPart::FindBodyPartsIn(FParts->Items(i), plainPart, htmlPart);
}

// ---- Building ----------------------------------------------------------------

TEmailHeader *TEmailMsg::NewBodyHeader(const std::string &type, const std::string &encoding,
                                       const std::string &disposition) {
  TEmailHeader *header = CreateHeader();
  header->SetField("Content-Type", type);
  header->SetField("Content-Transfer-Encoding", encoding);
  header->SetField("Content-Disposition", disposition);
  return header;
}

// The top-level part that carries the body of a message that is not
// multipart (the one sharing the main header).
TEmailMsgPart *TEmailMsg::BodyPart() {
  for (int i = 0; i < FParts->Count(); ++i)
    if (FParts->Items(i)->Header() == FHeader) return FParts->Items(i);
  return nullptr;
}

// Before a single-part message becomes multipart its body moves under a
// header of its own. A message that is itself an embedded message keeps that
// message as a sub-part of the new body part.
void TEmailMsg::GiveBodyOwnHeader(TEmailHeader *header) {
  if (TEmailMsgPart *body = BodyPart()) {
    body->SetHeader(header);
    return;
  }
  if (FParts->Count() == 0) return;
  std::unique_ptr<TEmailMsgPart> inner = FParts->Detach(FParts->Items(0));
  TEmailMsgPart *body = FParts->InsertPart(0, header);
  body->Parts().Attach(std::move(inner));
}

// An attachment appended to a multipart/alternative would become one more
// way of showing the text, and mail programs show only one of those: the
// alternative moves down into a multipart/mixed that holds the attachments.
void TEmailMsg::WrapAlternativeInMixed() {
  TEmailHeader *alternative = CreateHeader();
  std::string type;
  FHeader->GetField("Content-Type", type);
  alternative->SetField("Content-Type", type);
  std::vector<std::unique_ptr<TEmailMsgPart>> moved;
  while (FParts->Count() > 0) moved.push_back(FParts->Detach(FParts->Items(0)));
  TEmailMsgPart *preamble = FParts->AddPart(FHeader);
  preamble->SetRawText({kPreambleText, ""});
  TEmailMsgPart *wrapper = FParts->AddPart(alternative);
  for (auto &part : moved) {
    if (part->Header() == FHeader) part->SetHeader(alternative);
    wrapper->Parts().Attach(std::move(part));
  }
  FHeader->SetField("Content-Type",
                    QuotedBoundaryType("multipart/mixed", NewBoundary("----Quor1")));
  FHeader->SetField("Content-Transfer-Encoding", "");
}

TEmailMsgPart *TEmailMsg::AddAttachment(TStringList lines) {
  TCriticalSectionGuard guard(FLock);
  EnsureParsed();
  if (!FHeader->IsMultipart()) {
    std::string type, encoding, disposition;
    FHeader->GetDecodedField("Content-Type", type);
    FHeader->GetDecodedField("Content-Transfer-Encoding", encoding);
    FHeader->GetDecodedField("Content-Disposition", disposition);
    std::string boundary = NewBoundary("----Quor1");
    FHeader->SetField("Content-Type", QuotedBoundaryType("multipart/mixed", boundary));
    // The encoding and disposition described the old body, which takes them
    // along; left on a multipart header they would tell readers to decode
    // the whole multipart text.
    FHeader->SetField("Content-Transfer-Encoding", "");
    FHeader->SetField("Content-Disposition", "");
    GiveBodyOwnHeader(NewBodyHeader(type, encoding, disposition));
    TEmailMsgPart *preamble = FParts->InsertPart(0, FHeader);
    preamble->SetRawText({kPreambleText, ""});
  }
  if (FHeader->IsMultipartAlternative()) WrapAlternativeInMixed();
  TEmailMsgPart *part = FParts->AddPart(CreateHeader());
  part->SetRawText(std::move(lines));
  std::string delimiter;
  FHeader->GetBoundaryDelimiter(delimiter);
  SetDelimiters(*FParts, delimiter);
  FModified = true;
  return part;
}

TEmailMsgPart *TEmailMsg::MakeTextPart(TEmailMsgPartCollection &collection, int index, bool html) {
  TEmailHeader *header = CreateHeader();
  header->SetField("Content-Type",
                   html ? "text/html; charset=\"us-ascii\"" : "text/plain; charset=\"us-ascii\"");
  header->SetField("Content-Transfer-Encoding", "7bit");
  TEmailMsgPart *part = collection.InsertPart(index, header);
  part->SetRawText({""});
  return part;
}

TEmailMsgPart *TEmailMsg::AddTextPartTo(TEmailMsgPartCollection &collection, TEmailHeader *header,
                                        bool html) {
  std::string delimiter;
  header->GetBoundaryDelimiter(delimiter);
  if (delimiter.empty()) {
    if (!header->SetBoundary(NewBoundary(html ? "----Quor2" : "----Quor3"))) return nullptr;
    header->GetBoundaryDelimiter(delimiter);
    if (delimiter.empty()) return nullptr;
  }
  FModified = true;
  int index = 1;
  if (html && collection.Count() > 1 && collection.Items(1)->Header()->IsText() &&
      !collection.Items(1)->Header()->IsAttachment())
    index = 2;
  TEmailMsgPart *part = MakeTextPart(collection, index, html);
  SetDelimiters(collection, delimiter);
  return part;
}

TEmailMsgPart *TEmailMsg::CreateAlternativeWrapper() {
  TEmailHeader *header = CreateHeader();
  header->SetField("Content-Type",
                   "multipart/alternative;\r\n\tboundary=\"" + NewBoundary("----Quor4") + "\"");
  TEmailMsgPart *wrapper = FParts->InsertPart(1, header);
  TEmailMsgPart *preamble = wrapper->Parts().AddPart(header);
  preamble->SetRawText({""});
  std::string delimiter;
  header->GetBoundaryDelimiter(delimiter);
  preamble->SetBoundaryLine(delimiter);
  return wrapper;
}

// A single-part message becomes multipart: a preamble, the old body under a
// header of its own and a new text part, in the order asked for.
void TEmailMsg::RestructureSinglePart(const std::string &prefix, bool mixed, bool newFirst,
                                      bool html, TEmailMsgPart *&newPart) {
  FModified = true;
  std::string type, encoding, disposition;
  FHeader->GetDecodedField("Content-Type", type);
  FHeader->GetDecodedField("Content-Transfer-Encoding", encoding);
  FHeader->GetDecodedField("Content-Disposition", disposition);
  std::string boundary = prefix + RandomText(kBoundaryRandomChars);
  FHeader->SetField(
      "Content-Type",
      QuotedBoundaryType(mixed ? "multipart/mixed" : "multipart/alternative", boundary));
  FHeader->SetField("Content-Transfer-Encoding", "");
  FHeader->SetField("Content-Disposition", "");
  GiveBodyOwnHeader(NewBodyHeader(type, encoding, disposition));
  TEmailMsgPart *preamble = FParts->InsertPart(0, FHeader);
  preamble->SetRawText({kPreambleText, ""});
  newPart = MakeTextPart(*FParts, newFirst ? 1 : -1, html);
  SetDelimiters(*FParts, "--" + boundary);
}

TEmailMsgPart *TEmailMsg::AddPlainTextPart() {
  TCriticalSectionGuard guard(FLock);
  EnsureParsed();
  if (FHeader->IsMultipartAlternative()) {
    for (int i = 0; i < FParts->Count(); ++i)
      if (FParts->Items(i)->Header()->IsPlainText()) return nullptr;
    return AddTextPartTo(*FParts, FHeader, false);
  }
  if (FHeader->IsMultipart()) {
    for (int i = 1; i < FParts->Count(); ++i) {
      TEmailMsgPart *alt = FParts->Items(i);
      if (!alt->Header()->IsMultipartAlternative()) continue;
      for (int j = 0; j < alt->Parts().Count(); ++j)
        if (alt->Parts().Items(j)->Header()->IsPlainText()) return nullptr;
      return AddTextPartTo(alt->Parts(), alt->Header(), false);
    }
    TEmailMsgPart *wrapper = CreateAlternativeWrapper();
    TEmailMsgPart *part = AddTextPartTo(wrapper->Parts(), wrapper->Header(), false);
    for (int i = 0; i < FParts->Count(); ++i) {
      TEmailMsgPart *candidate = FParts->Items(i);
      if (candidate == wrapper || !candidate->Header()->IsHtml() ||
          candidate->Header()->IsAttachment())
        continue;
      wrapper->Parts().Attach(FParts->Detach(candidate));
      break;
    }
    std::string delimiter;
    wrapper->Header()->GetBoundaryDelimiter(delimiter);
    SetDelimiters(wrapper->Parts(), delimiter);
    FHeader->GetBoundaryDelimiter(delimiter);
    SetDelimiters(*FParts, delimiter);
    FModified = true;
    return part;
  }
  bool mixed = !FHeader->IsText() || FHeader->IsAttachment();
  TEmailMsgPart *part = nullptr;
  RestructureSinglePart("----Quor2", mixed, true, false, part);
  return part;
}

TEmailMsgPart *TEmailMsg::FAddHtmlTextPart() {
  TCriticalSectionGuard guard(FLock);
  EnsureParsed();
  if (FHeader->IsMultipartAlternative()) {
    for (int i = 0; i < FParts->Count(); ++i)
      if (FParts->Items(i)->Header()->IsHtml() && !FParts->Items(i)->Header()->IsAttachment())
        return nullptr;
    return AddTextPartTo(*FParts, FHeader, true);
  }
  if (FHeader->IsMultipart()) {
    for (int i = 1; i < FParts->Count(); ++i) {
      TEmailMsgPart *alt = FParts->Items(i);
      if (!alt->Header()->IsMultipartAlternative()) continue;
      for (int j = 0; j < alt->Parts().Count(); ++j)
        if (alt->Parts().Items(j)->Header()->IsHtml()) return nullptr;
      return AddTextPartTo(alt->Parts(), alt->Header(), true);
    }
    TEmailMsgPart *wrapper = CreateAlternativeWrapper();
    for (int i = 0; i < FParts->Count(); ++i) {
      TEmailMsgPart *candidate = FParts->Items(i);
      if (candidate == wrapper || !candidate->Header()->IsPlainText() ||
          candidate->Header()->IsAttachment())
        continue;
      wrapper->Parts().Attach(FParts->Detach(candidate));
      break;
    }
    TEmailMsgPart *part = AddTextPartTo(wrapper->Parts(), wrapper->Header(), true);
    std::string delimiter;
    FHeader->GetBoundaryDelimiter(delimiter);
    SetDelimiters(*FParts, delimiter);
    FModified = true;
    return part;
  }
  bool alternative = FHeader->IsText() && !FHeader->IsAttachment();
  TEmailMsgPart *part = nullptr;
  RestructureSinglePart("----Quor9", !alternative, !alternative, true, part);
  return part;
}

TEmailMsgPart *TEmailMsg::AddPlainTextAlternative() {
  TCriticalSectionGuard guard(FLock);
  TStringList text;
  GetPlainText(text, false);
  TEmailMsgPart *part = AddPlainTextPart();
  if (part) {
    FModified = true;
    ReflowPlainText(text);
    part->SetRawText(std::move(text));
  }
  return part;
}

TEmailMsgPart *TEmailMsg::AddHtmlTextAlternative() {
  TCriticalSectionGuard guard(FLock);
  TStringList text;
  GetPlainText(text, false);
  TEmailMsgPart *part = FAddHtmlTextPart();
  if (part) {
    FModified = true;
    part->SetRawText(PlainTextToHtml(text));
  }
  return part;
}

TEmailMsgPart *TEmailMsg::EnsureBody() {
  TCriticalSectionGuard guard(FLock);
  EnsureParsed();
  std::string type;
  FHeader->GetMainValue("Content-Type", type, true);
  if (SameText(type, "message/partial")) return nullptr;
  TEmailMsgPart *plain = nullptr, *html = nullptr;
  FindBodyParts(plain, html);
  if (plain || html) return nullptr;
  return AddPlainTextPart();
}

TEmailMsgPart *TEmailMsg::EnsureAlternatives() {
  TCriticalSectionGuard guard(FLock);
  TEmailMsgPart *plain = nullptr, *html = nullptr;
  FindBodyParts(plain, html);
  if (html && !plain) return AddPlainTextAlternative();
  if (plain && !html) return AddHtmlTextAlternative();
  if (!plain && !html && EnsureBody()) return AddHtmlTextAlternative();
  return nullptr;
}

// ---- Text conversions ----------------------------------------------------------

namespace {

const std::pair<const char *, const char *> kAbbreviations[] = {
    {"e.g.", "eg"},       {"i.e.", "ie"},       {"p.o.", "po"},    {"P.O.", "po"},
    {"et al.", "et al"},  {"Mrs. ", "mrs "},    {"Mr. ", "mr "},   {"Dr. ", "dr "},
    {"Ms. ", "ms "},      {"Prof. ", "prof "},  {"Gen. ", "Gen "}, {"Rep. ", "Rep "},
    {"Sen. ", "Sen "},    {"St. ", "St "},      {"Sr. ", "Sr "},   {"Jr. ", "Jr "},
    {"Ph.D. ", "PhD "},   {"M.D. ", "MD "},     {"U.S.A.", "usa"}, {"U.S.", "us"},
    {"U.K.", "uk"},       {"B.C.", "bc"},       {"A.D.", "ad"},    {"B.C.E.", "bce"},
    {"C.E.", "ce"},       {"ea.", "ea"},        {"a.m.", "am"},    {"p.m.", "pm"},
    {"a.s.a.p.", "asap"}, {"r.s.v.p.", "rsvp"},
};

constexpr size_t kReflowShortLine = 72;
constexpr size_t kReflowCutFrom = 50;  // 1-based column from which a sentence end may cut
constexpr size_t kReflowMaxRest = 70;

std::string DropLeadingSpaces(const std::string &s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

}  // namespace

void ReflowPlainText(TStringList &lines) {
  for (size_t n = lines.size(); n-- > 0;) {
    std::string line = ReplaceAll(lines[n], "  ", " ");
    line = ReplaceAll(line, " .", ".");
    if (!line.empty() && line[0] == ' ') line.erase(0, 1);
    if (line.size() < kReflowShortLine) {
      lines[n] = line;
      continue;
    }
    line = ReplaceAll(line, "-----original message-----", "");
    for (const char *twice : {"..", "!!", "??", "  "})
      line = ReplaceAll(line, twice, std::string(1, twice[0]));
    for (const auto &[from, to] : kAbbreviations) line = ReplaceAll(line, from, to);
    TStringList pieces;
    std::string rest = line;
    do {
      size_t cut = rest.find_first_of(".!?", kReflowCutFrom - 1);
      cut = cut == std::string::npos ? rest.size() : cut + 1;
      pieces.push_back(DropLeadingSpaces(rest.substr(0, cut)));
      rest = DropLeadingSpaces(rest.substr(cut));
    } while (rest.size() > kReflowMaxRest);
    if (!rest.empty()) pieces.push_back(rest);
    lines.erase(lines.begin() + std::ptrdiff_t(n));
    lines.insert(lines.begin() + std::ptrdiff_t(n), pieces.begin(), pieces.end());
  }
  TStringList squeezed;
  squeezed.reserve(lines.size());
  for (std::string &line : lines) {
    if (line.empty() && !squeezed.empty() && squeezed.back().empty()) continue;
    squeezed.push_back(std::move(line));
  }
  lines.swap(squeezed);
}

TStringList PlainTextToHtml(const TStringList &lines) {
  TStringList html;
  html.reserve(lines.size() + 2);
  html.push_back("<html><body>");
  for (const std::string &line : lines) {
    std::string out = line;
    HtmlEscape(out);
    out += "<br>";
    html.push_back(std::move(out));
  }
  html.push_back("</body></html>");
  return html;
}
