#include "mail/EmailHeader.h"

#include <functional>

#include "mail/EmailAddress.h"
#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"
#include "mail/MimeTypes.h"

namespace {

constexpr size_t kMaxContinuationChars = 9999;

// Whether Value is a non-empty leading part of Word ("att" of "attachment").
bool IsLeadingPartOf(std::string_view value, std::string_view word) {
  return !value.empty() && value.size() <= word.size() && word.substr(0, value.size()) == value;
}

// Splits a structured value at ";" into trimmed items. A ";" inside a quoted
// string belongs to the value (file names may contain one).
TStringList SplitParams(std::string_view value) {
  TStringList items;
  std::string current;
  bool quoted = false;
  // A quote that is never closed is an ordinary character: taken as an
  // opening quote it would swallow every parameter after it, and a parameter
  // set later would be appended again on every write of the message.
  // Once one quote finds no partner, no later one can either, so the scan
  // runs once at most past that point and the split stays linear.
  bool unclosed = false;
  const auto closes = [&](size_t open) {
    if (unclosed) return false;
    for (size_t j = open + 1; j < value.size(); ++j) {
      if (value[j] == '\\') {
        ++j;
      } else if (value[j] == '"') {
        return true;
      }
    }
    unclosed = true;
    return false;
  };
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '"' && (quoted || closes(i))) quoted = !quoted;
    if (c == '\\' && quoted && i + 1 < value.size()) {
      current += c;
      current += value[++i];
      continue;
    }
    if (c == ';' && !quoted) {
      items.push_back(Trim(current));
      current.clear();
      continue;
    }
    current += c;
  }
  items.push_back(Trim(current));
  return items;
}

bool NeedsQuotes(std::string_view token) {
  if (token.empty()) return true;
  for (char c : token) {
    if ((unsigned char)c <= ' ' || (unsigned char)c >= 127) return true;
    if (std::string_view("()<>@,;:\\\"/[]?=").find(c) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

TEmailHeader::TEmailHeader(TEmailMsg *owner) : FLock("EmailHeader_CS"), FOwner(owner) {}

TEmailHeader::~TEmailHeader() = default;

void TEmailHeader::Changed() {
  if (FOwner) FOwner->SetModified(true);
}

void TEmailHeader::Clear() {
  TCriticalSectionGuard guard(FLock);
  if (!FNames.empty()) Changed();
  FNames.clear();
  FValues.clear();
  FRawFields.clear();
  FDiagnostics = 0;
  FNoSeparator = false;
}

std::string TEmailHeader::Unfold(std::string_view value) {
  size_t brk = value.find("\r\n");
  if (brk == std::string_view::npos) return std::string(value);
  std::string result(value.substr(0, brk));
  size_t pos = brk + 2;
  for (;;) {
    size_t next = value.find("\r\n", pos);
    std::string_view line =
        value.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos);
    if (!line.empty()) result.append(line.substr(1, kMaxContinuationChars));
    if (next == std::string_view::npos) break;
    pos = next + 2;
  }
  return result;
}

bool TEmailHeader::ParseCollected(TStringList &collected) {
  bool ok = !collected.empty();
  // Continuation lines join the field above them, keeping their line break.
  size_t out = 0;
  for (size_t i = 0; i < collected.size(); ++i) {
    std::string &line = collected[i];
    if (i > 0 && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      std::string &above = collected[out - 1];
      above += "\r\n";
      above += line;
      continue;
    }
    if (out != i) collected[out] = std::move(line);
    ++out;
  }
  collected.resize(out);
  for (std::string &line : collected) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) {
      ok = false;
      continue;
    }
    FNames.push_back(line.substr(0, colon));
    FValues.push_back(Trim(std::string_view(line).substr(colon + 1)));
    // The text as read is kept so that an untouched field is written back
    // byte for byte, whatever its spacing after the colon.
    FRawFields.push_back(std::move(line));
  }
  if (!FNames.empty()) Changed();
  return ok;
}

namespace {

// A header line has a colon or continues the line above it. Anything else
// (a body that starts without the empty separator line, or a delimiter line
// right after another one) ends the header block and stays in the body.
bool IsHeaderLine(std::string_view line, bool first) {
  if (!first && (line[0] == ' ' || line[0] == '\t')) return true;
  return line.find(':') != std::string::npos;
}

}  // namespace

bool TEmailHeader::LoadFromReader(TLineReader &reader, bool skipLeadingEmpty) {
  TCriticalSectionGuard guard(FLock);
  Clear();
  const TLineBlock &lines = reader.Lines;
  if (skipLeadingEmpty)
    while (reader.Pos < lines.Count() && lines[reader.Pos].empty()) ++reader.Pos;
  TStringList collected;
  while (reader.Pos < lines.Count() && !lines[reader.Pos].empty() &&
         IsHeaderLine(lines[reader.Pos], collected.empty()))
    collected.emplace_back(lines[reader.Pos++]);
  bool ok = ParseCollected(collected);
  if (reader.Pos < lines.Count()) {
    if (lines[reader.Pos].empty()) {
      ++reader.Pos;  // the separator line
    } else {
      FNoSeparator = true;
      ok = false;
    }
  }
  return ok;
}

bool TEmailHeader::LoadFromLines(TStringList &lines, bool consume) {
  TCriticalSectionGuard guard(FLock);
  if (consume) {
    // Only the header block and the line after it can be read; the body of
    // a large message is not copied for that.
    size_t end = 0;
    while (end < lines.size() && lines[end].empty()) ++end;
    while (end < lines.size() && !lines[end].empty()) ++end;
    if (end < lines.size()) ++end;
    TLineBlock block;
    for (size_t i = 0; i < end; ++i) block.Add(lines[i]);
    TLineReader reader(block);
    bool ok = LoadFromReader(reader, true);
    lines.erase(lines.begin(), lines.begin() + std::ptrdiff_t(reader.Pos));
    return ok;
  }
  TLineBlock copy;
  size_t pos = 0;
  while (pos < lines.size() && lines[pos].empty()) ++pos;
  while (pos < lines.size() && !lines[pos].empty()) copy.Add(lines[pos++]);
  if (pos < lines.size()) copy.Add(std::string_view());
  TLineReader reader(copy);
  return LoadFromReader(reader, false);
}

void TEmailHeader::SaveToLines(TStringList &lines) {
  TCriticalSectionGuard guard(FLock);
  for (size_t i = 0; i < FNames.size(); ++i) {
    std::string text;
    const std::string *source = &FRawFields[i];
    if (source->empty()) {
      text = FNames[i] + ": " + FValues[i];
      source = &text;
    }
    size_t pos = 0;
    for (;;) {
      size_t brk = source->find("\r\n", pos);
      if (brk == std::string::npos) {
        lines.push_back(source->substr(pos));
        break;
      }
      lines.push_back(source->substr(pos, brk - pos));
      pos = brk + 2;
    }
  }
}

int TEmailHeader::Count() {
  TCriticalSectionGuard guard(FLock);
  return int(FNames.size());
}

std::string TEmailHeader::Names(int index) {
  TCriticalSectionGuard guard(FLock);
  return index >= 0 && size_t(index) < FNames.size() ? FNames[size_t(index)] : std::string();
}

std::string TEmailHeader::Values(int index) {
  TCriticalSectionGuard guard(FLock);
  return index >= 0 && size_t(index) < FValues.size() ? FValues[size_t(index)] : std::string();
}

int TEmailHeader::IndexOfField(std::string_view name) {
  TCriticalSectionGuard guard(FLock);
  std::string wanted(name);
  size_t colon = wanted.find(':');
  if (colon != std::string::npos) wanted[colon] = ' ';
  wanted = Trim(wanted);
  for (size_t i = 0; i < FNames.size(); ++i)
    if (SameText(FNames[i], wanted)) return int(i);
  return -1;
}

bool TEmailHeader::GetField(std::string_view name, std::string &value, bool unfold) {
  TCriticalSectionGuard guard(FLock);
  int index = IndexOfField(name);
  if (index < 0) {
    value.clear();
    return false;
  }
  value = unfold ? Unfold(FValues[size_t(index)]) : FValues[size_t(index)];
  return true;
}

bool TEmailHeader::GetDecodedField(std::string_view name, std::string &value) {
  TCriticalSectionGuard guard(FLock);
  if (!GetField(name, value, true)) return false;
  value = DecodeHeaderWords(value);
  return true;
}

bool TEmailHeader::GetMainValue(std::string_view name, std::string &value, bool unfold) {
  TCriticalSectionGuard guard(FLock);
  if (!GetField(name, value, unfold)) return false;
  size_t semi = value.find(';');
  value = Trim(std::string_view(value).substr(0, semi));
  return true;
}

bool TEmailHeader::GetDecodedMainValue(std::string_view name, std::string &value) {
  TCriticalSectionGuard guard(FLock);
  if (!GetMainValue(name, value, true)) return false;
  value = DecodeHeaderWords(value);
  return true;
}

namespace {

// A line break in a value is kept only where it folds the value (CR LF
// followed by a blank); any other CR, LF or CR LF becomes a blank, since it
// would otherwise start a header line of the caller's (or a sender's)
// choosing in the written message.
std::string WithoutStrayLineBreaks(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c != '\r' && c != '\n') {
      out += c;
      continue;
    }
    if (c == '\r' && i + 2 < value.size() && value[i + 1] == '\n' &&
        (value[i + 2] == ' ' || value[i + 2] == '\t') && !out.empty()) {
      out += "\r\n";
      ++i;
      continue;
    }
    if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
    out += ' ';
  }
  return out;
}

}  // namespace

bool TEmailHeader::SetField(std::string_view rawName, std::string_view rawValue) {
  TCriticalSectionGuard guard(FLock);
  std::string name(rawName);
  size_t colon = name.find(':');
  if (colon != std::string::npos) name[colon] = ' ';
  for (char &c : name)
    if (c == '\r' || c == '\n') c = ' ';
  name = Trim(name);
  FNoSeparator = false;
  if (rawValue.size() > 1 && rawValue.substr(rawValue.size() - 2) == "\r\n")
    rawValue = rawValue.substr(0, rawValue.size() - 2);
  const std::string cleaned = WithoutStrayLineBreaks(rawValue);
  const std::string_view value = cleaned;
  for (size_t i = 0; i < FNames.size(); ++i) {
    if (!SameText(FNames[i], name)) continue;
    if (FValues[i] != value) {
      Changed();
      if (value.empty()) {
        FNames.erase(FNames.begin() + std::ptrdiff_t(i));
        FValues.erase(FValues.begin() + std::ptrdiff_t(i));
        FRawFields.erase(FRawFields.begin() + std::ptrdiff_t(i));
      } else {
        FValues[i] = std::string(value);
        FRawFields[i].clear();
      }
    }
    return true;
  }
  if (!value.empty()) {
    FNames.push_back(name);
    FValues.emplace_back(value);
    FRawFields.emplace_back();
    Changed();
  }
  return false;
}

bool TEmailHeader::SetMainValue(std::string_view name, std::string_view newMain) {
  TCriticalSectionGuard guard(FLock);
  std::string oldMain;
  GetDecodedMainValue(name, oldMain);
  if (oldMain == newMain) return false;
  std::string full;
  bool found = GetDecodedField(name, full);
  if (newMain.empty()) {
    SetField(name, "");
    return found;
  }
  bool replaced = false;
  if (!oldMain.empty() && newMain.find(oldMain) == std::string_view::npos &&
      full.find(oldMain) != std::string::npos) {
    full = ReplaceAll(full, oldMain, newMain);
    replaced = true;
  }
  SetField(name, replaced ? std::string_view(full) : newMain);
  return found;
}

void TEmailHeader::GetSubject(std::string &value) {
  TCriticalSectionGuard guard(FLock);
  GetDecodedField("Subject", value);
}

std::unique_ptr<TEmailAddressCollection> TEmailHeader::GetToAddresses() {
  TCriticalSectionGuard guard(FLock);
  std::string value;
  if (!GetDecodedField("To", value)) return nullptr;
  auto result = std::make_unique<TEmailAddressCollection>();
  result->SetText(value);
  return result;
}

std::unique_ptr<TEmailAddressCollection> TEmailHeader::GetCcAddresses() {
  TCriticalSectionGuard guard(FLock);
  std::string value;
  if (!GetDecodedField("CC", value)) return nullptr;
  auto result = std::make_unique<TEmailAddressCollection>();
  result->SetText(value);
  return result;
}

bool TEmailHeader::GetParam(std::string_view fieldName, std::string_view paramName, bool unfold,
                            std::string &value) {
  TCriticalSectionGuard guard(FLock);
  std::string field;
  value.clear();
  if (!GetField(fieldName, field, unfold)) return false;
  if (!ContainsText(field, paramName)) return false;
  TStringList items = SplitParams(field);
  for (size_t i = 1; i < items.size(); ++i) {
    size_t eq = items[i].find('=');
    if (eq == std::string::npos) continue;
    if (!SameText(Trim(std::string_view(items[i]).substr(0, eq)), paramName)) continue;
    value = Trim(std::string_view(items[i]).substr(eq + 1));
    break;
  }
  if (value.empty()) return false;
  if (value[0] == '"') {
    value.erase(0, 1);
  } else {
    FDiagnostics |= hd_ParamNotQuoted;
  }
  if (!value.empty()) {
    if (value.back() == '"') {
      value.pop_back();
    } else {
      FDiagnostics |= hd_ParamNotQuoted;
    }
  }
  return !value.empty();
}

bool TEmailHeader::GetDecodedParam(std::string_view fieldName, std::string_view paramName,
                                   std::string &value) {
  TCriticalSectionGuard guard(FLock);
  if (!GetParam(fieldName, paramName, true, value)) return false;
  value = DecodeHeaderWords(value);
  return true;
}

bool TEmailHeader::SetParam(std::string_view fieldName, std::string_view paramName,
                            std::string_view value) {
  TCriticalSectionGuard guard(FLock);
  std::string full;
  if (!GetDecodedField(fieldName, full)) return false;
  TStringList items = SplitParams(full);
  bool found = false;
  for (size_t i = 1; i < items.size(); ++i) {
    size_t eq = items[i].find('=');
    if (eq == std::string::npos) continue;
    if (!SameText(Trim(std::string_view(items[i]).substr(0, eq)), paramName)) continue;
    found = true;
    if (value.empty()) {
      items.erase(items.begin() + std::ptrdiff_t(i));
    } else {
      items[i] = std::string(paramName) + "=" + std::string(value);
    }
    break;
  }
  if (!found && !value.empty()) items.push_back(std::string(paramName) + "=" + std::string(value));
  std::string joined;
  for (const std::string &item : items) {
    joined += item;
    joined += "; ";
  }
  joined.resize(joined.size() - 2);
  SetField(fieldName, joined);
  return true;
}

bool TEmailHeader::SetBoundary(std::string_view boundary) {
  TCriticalSectionGuard guard(FLock);
  if (boundary.empty()) return false;
  if (IndexOfField("Content-Type") < 0) SetField("Content-Type", "multipart/alternative");
  if (!NeedsQuotes(boundary)) return SetParam("Content-Type", "boundary", boundary);
  std::string quoted;
  quoted.reserve(boundary.size() + 2);
  quoted += '"';
  quoted += boundary;
  quoted += '"';
  return SetParam("Content-Type", "boundary", quoted);
}

void TEmailHeader::GetBoundaryDelimiter(std::string &delimiter) {
  TCriticalSectionGuard guard(FLock);
  delimiter.clear();
  std::string type;
  if (!GetDecodedField("Content-Type", type)) return;
  // The boundary parameter itself when the field splits into parameters, so
  // that a "boundary=" quoted inside another parameter is not taken for it.
  std::string_view rest;
  TStringList items = SplitParams(type);
  for (size_t i = 1; i < items.size() && rest.empty(); ++i) {
    size_t eq = items[i].find('=');
    if (eq != std::string::npos &&
        SameText(Trim(std::string_view(items[i]).substr(0, eq)), "boundary"))
      rest = std::string_view(items[i]).substr(eq + 1);
  }
  if (rest.empty()) {
    size_t pos = LowerCase(type).find("boundary=");
    if (pos == std::string::npos) return;
    rest = std::string_view(type).substr(pos + 9);
  }
  while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
  std::string boundary;
  if (!rest.empty() && rest[0] == '"') {
    size_t close = rest.find('"', 1);
    boundary = std::string(rest.substr(1, close == std::string_view::npos ? close : close - 1));
  } else {
    // An unquoted boundary is a token: it ends at the next parameter or
    // blank, not at the end of the field.
    size_t end = 0;
    while (end < rest.size() && rest[end] != ';' && (unsigned char)rest[end] > ' ') ++end;
    boundary = std::string(rest.substr(0, end));
  }
  if (boundary.empty()) return;
  delimiter = "--" + boundary;
}

bool TEmailHeader::IsMainHeader() {
  TCriticalSectionGuard guard(FLock);
  return FOwner && FOwner->MainHeader() == this;
}

TEmailMsgPart *TEmailHeader::FindOwningPart() {
  TCriticalSectionGuard guard(FLock);
  if (!FOwner) return nullptr;
  // Known directly: searching the tree for every part's header made
  // classifying many parts quadratic.
  if (FOwningPart && !FOwningPartAlive.expired()) return FOwningPart;
  if (!FOwningPart) return nullptr;  // never given to a part
  // The first owner is gone but another part may still use the header.
  FOwningPart = nullptr;
  return FOwner->TopParts().FindPart(
      [](TEmailMsgPart *part, TEmailHeader *header) { return part->Header() == header; }, this);
}

void TEmailHeader::NoteOwningPart(TEmailMsgPart *part, const std::shared_ptr<const int> &alive) {
  TCriticalSectionGuard guard(FLock);
  if (FOwningPart && !FOwningPartAlive.expired()) return;
  FOwningPart = part;
  FOwningPartAlive = alive;
}

bool TEmailHeader::IsMultipart() {
  TCriticalSectionGuard guard(FLock);
  std::string type;
  if (!GetDecodedField("Content-Type", type)) {
    FDiagnostics |= hd_NoContentType;
    return false;
  }
  return LowerCase(type).find("multipart") != std::string::npos;
}

bool TEmailHeader::IsMultipartAlternative() {
  TCriticalSectionGuard guard(FLock);
  std::string type;
  if (!GetDecodedMainValue("Content-Type", type)) {
    FDiagnostics |= hd_NoContentType;
    return false;
  }
  return LowerCase(type).find("multipart/alternative") != std::string::npos;
}

bool TEmailHeader::IsMultipartMixed() {
  TCriticalSectionGuard guard(FLock);
  std::string type;
  if (!GetDecodedField("Content-Type", type)) {
    FDiagnostics |= hd_NoContentType;
    return false;
  }
  return LowerCase(type).find("multipart/mixed") != std::string::npos;
}

bool TEmailHeader::IsText() {
  TCriticalSectionGuard guard(FLock);
  std::string type;
  if (!GetDecodedField("Content-Type", type)) {
    FDiagnostics |= hd_NoContentType;
    return true;
  }
  type = LowerCase(type);
  if (type.find("text") != std::string::npos) return true;
  if (type.find("charset") != std::string::npos) {
    FDiagnostics |= hd_CharsetOnNonText;
    return true;
  }
  return false;
}

bool TEmailHeader::IsPlainText() {
  TCriticalSectionGuard guard(FLock);
  std::string type;
  if (GetDecodedField("Content-Type", type)) {
    type = LowerCase(type);
    return type.find("text/plain") != std::string::npos || Trim(type) == "text";
  }
  // Without a type only a direct part of the message defaults to plain text;
  // deeper parts may be anything their parent's rules imply.
  TEmailMsgPart *part = nullptr;
  try {
    part = FindOwningPart();
  } catch (...) {
    return false;
  }
  if (!part || part->Level() != 0) return false;
  FDiagnostics |= hd_NoContentType;
  return true;
}

bool TEmailHeader::IsHtml() {
  TCriticalSectionGuard guard(FLock);
  std::string type;
  if (!GetDecodedField("Content-Type", type)) {
    FDiagnostics |= hd_NoContentType;
    return false;
  }
  return LowerCase(type).find("text/html") != std::string::npos;
}

bool TEmailHeader::IsEmbeddedMessageName(const std::string &rawName) {
  std::string name = rawName;
  while (!name.empty() && name.back() == '.') name.pop_back();
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot);
  if (LowerCase(ExtensionToMimeType(ext)).find("rfc822") != std::string::npos) return true;
  return SameText(ext, ".eml") || SameText(ext, ".nws") || SameText(ext, ".msg");
}

bool TEmailHeader::IsEmbeddedMessage() {
  TCriticalSectionGuard guard(FLock);
  std::string type;
  if (GetDecodedField("Content-Type", type) && LowerCase(type).find("rfc822") != std::string::npos)
    return true;
  std::string name;
  if (GetDecodedParam("Content-Type", "Name", name)) return IsEmbeddedMessageName(name);
  if (GetDecodedParam("Content-Disposition", "FileName", name)) return IsEmbeddedMessageName(name);
  return false;
}

bool TEmailHeader::IsEmbeddedMessagePart() {
  TCriticalSectionGuard guard(FLock);
  try {
    TEmailMsgPart *part = FindOwningPart();
    return part && part->Header() && part->Header()->IsEmbeddedMessage();
  } catch (...) {
    return false;
  }
}

bool TEmailHeader::IsAttachment() {
  TCriticalSectionGuard guard(FLock);
  std::string disposition;
  TEmailHeader *main = FOwner ? FOwner->MainHeader() : nullptr;
  if (main && main != this && main->GetDecodedField("Content-Disposition", disposition))
    return LowerCase(disposition).rfind("attachment", 0) == 0;
  if (GetDecodedField("Content-Disposition", disposition)) {
    // The owner's own rule above covers the main header too.
    if (main == this) return LowerCase(disposition).rfind("attachment", 0) == 0;
    std::string v = LowerCase(disposition);
    if (IsLeadingPartOf(v, "attachment")) return true;
    if (IsLeadingPartOf(v, "inline")) return false;
    FDiagnostics |= hd_OddDisposition;
    return true;
  }
  if (IsMultipart() || IsText()) {
    std::string name;
    return GetFileName(name);
  }
  return true;
}

bool TEmailHeader::IsInline() {
  TCriticalSectionGuard guard(FLock);
  std::string disposition;
  if (FOwner) {
    TEmailHeader *main = FOwner->MainHeader();
    if (!main->IsMultipart()) return true;
    if (main->GetDecodedField("Content-Disposition", disposition) &&
        IsLeadingPartOf(LowerCase(disposition), "inline"))
      return true;
  }
  if (GetDecodedField("Content-Disposition", disposition)) {
    // A lone "inline" without parameters is inline too.
    size_t semi = disposition.find(';');
    std::string_view head =
        std::string_view(disposition).substr(0, semi == std::string::npos ? semi : semi + 1);
    return ContainsText(head, "inline");
  }
  return !IsMultipart() && IsText();
}

bool TEmailHeader::IsInlineAttachment() {
  TCriticalSectionGuard guard(FLock);
  if (IsMainHeader() || IsMultipart()) return false;
  if (FOwner && !FOwner->MainHeader()->IsMultipart()) return false;
  std::string disposition;
  if (GetDecodedField("Content-Disposition", disposition) &&
      IsLeadingPartOf(LowerCase(disposition), "inline"))
    return !IsText();
  return false;
}

bool TEmailHeader::GetContentType(std::string &type) {
  TCriticalSectionGuard guard(FLock);
  if (GetDecodedMainValue("Content-Type", type)) return true;
  if (IsHtml()) {
    type = "text/html";
  } else if (IsPlainText()) {
    type = "text/plain";
  } else {
    type = "application/octet-stream";
  }
  return false;
}

bool TEmailHeader::GetTransferEncoding(std::string &name) {
  TCriticalSectionGuard guard(FLock);
  std::string value;
  if (!GetDecodedField("Content-Transfer-Encoding", value)) {
    name = "7bit";
    FDiagnostics |= hd_NoTransferEncoding;
    return false;
  }
  value = Trim(value);
  if (SameText(value, "7bit") || SameText(value, "8bit") || SameText(value, "binary")) {
    name = value;
    return true;
  }
  if (IsMultipart()) FDiagnostics |= hd_EncodedMultipart;
  if (SameText(value, "quoted-printable") || SameText(value, "base64")) {
    name = value;
  } else {
    FDiagnostics |= hd_UnknownEncoding;
    name = "binary";
  }
  return true;
}

bool TEmailHeader::GetDecoderClass(const TMIMEDecoder *&decoderClass) {
  TCriticalSectionGuard guard(FLock);
  decoderClass = nullptr;
  bool result = false;
  std::string name;
  if (GetTransferEncoding(name)) {
    decoderClass = FindDecoder(name);
    result = decoderClass != nullptr;
  } else if (!IsPlainText() && !IsHtml() && FOwner && !IsMainHeader() &&
             (IsAttachment() || IsInlineAttachment()) && !IsEmbeddedMessagePart()) {
    // Attachments that do not say how they are encoded are nearly always
    // base64.
    decoderClass = FindDecoder("base64");
  }
  if (!decoderClass) decoderClass = FindDecoder("default");
  return result;
}

bool TEmailHeader::IsEncoded() {
  TCriticalSectionGuard guard(FLock);
  const TMIMEDecoder *decoder = nullptr;
  return GetDecoderClass(decoder) && !IsBinaryDecoder(decoder);
}

bool TEmailHeader::FileNameFrom(std::string_view field, std::string_view param, std::string &name) {
  bool found = GetDecodedParam(field, param, name);
  if (!found) name = "Attachment";
  name = DecodeFileNameWords(name);
  if (name.find('.') == std::string::npos) {
    std::string type, ext;
    if (GetContentType(type) && MimeTypeToExtension(type, ext)) name += ext;
  }
  std::string clean;
  clean.reserve(name.size());
  for (char c : name) {
    if (std::string_view("<>?*:|\"/\\").find(c) != std::string_view::npos) {
      FDiagnostics |= hd_FileNameCharRemoved;
      continue;
    }
    clean += c;
  }
  name = std::move(clean);
  return found;
}

bool TEmailHeader::GetDispositionFileName(std::string &name) {
  TCriticalSectionGuard guard(FLock);
  return FileNameFrom("Content-Disposition", "filename", name);
}

bool TEmailHeader::GetTypeNameParam(std::string &name) {
  TCriticalSectionGuard guard(FLock);
  return FileNameFrom("Content-Type", "name", name);
}

bool TEmailHeader::GetFileName(std::string &name) {
  TCriticalSectionGuard guard(FLock);
  if (GetDispositionFileName(name)) return true;
  return GetTypeNameParam(name);
}
