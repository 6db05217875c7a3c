#include "config/QuorIniFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "config/Blowfish.h"
#include "foundation/QuorUtil.h"

namespace fs = std::filesystem;

namespace {

// The key the enciphered form has always been written with. It is longer than
// the cipher accepts, so the cipher runs on its unkeyed tables; files already
// on disk depend on that, so the key stays as it is.
constexpr const char *kFileKey =
    "Brelvane settings are kept beside the program and are read only by the program..";
static_assert(std::char_traits<char>::length(kFileKey) == 80);

// Name of a key line: the trimmed text before the first "=".
std::string_view LineName(std::string_view line) {
  const size_t eq = line.find('=');
  std::string_view name = line.substr(0, eq);
  while (!name.empty() && static_cast<unsigned char>(name.back()) <= ' ') name.remove_suffix(1);
  while (!name.empty() && static_cast<unsigned char>(name.front()) <= ' ') name.remove_prefix(1);
  return name;
}

std::string LineValue(const std::string &line) {
  const size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

bool ReadWholeFile(const std::string &path, std::string &data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Line breaks or NULs inside a key or value would split it into lines of its
// own (or cut the enciphered form short) on the next load.
bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

TQuorIniFile::TQuorIniFile(const std::string &fileName, bool skipLoading, bool keepFirstDuplicate)
    : FileName(fileName), KeepFirstDuplicate(keepFirstDuplicate) {
  std::error_code ec;
  if (!FileName.empty() && !fs::exists(FileName, ec)) {
    const fs::path folder = fs::path(FileName).parent_path();
    if (!folder.empty()) fs::create_directories(folder, ec);
    std::ofstream(FileName, std::ios::binary);
  } else if (!skipLoading) {
    LoadFromFile();
  }
  Modified = false;
}

TQuorIniFile::~TQuorIniFile() {
  if (!FileName.empty() && Modified) UpdateFile();
}

void TQuorIniFile::LoadFromFile() {
  std::string data;
  if (!ReadWholeFile(FileName, data)) data.clear();
  LoadFromText(data);
}

void TQuorIniFile::LoadFromText(const std::string &data) {
  Sections.clear();
  LastReadIndex = LastWriteIndex = -1;
  const std::string_view head = std::string_view(data).substr(0, EncipheredHeaderLength);
  Enciphered = head.find("Encrypted File v") != std::string_view::npos;
  const TStringList lines = SplitLines(Enciphered ? Decipher(data) : data);

  // Names already in the current section, folded to upper case, so that a
  // hostile file of many keys does not make KeepFirstDuplicate quadratic.
  std::unordered_set<std::string> seen;
  for (const std::string &raw : lines) {
    // The answer is ignored on purpose: a load cut short would be saved back
    // as a settings file with keys missing.
    ProgressHook();
    std::string line = Trim(raw);
    if (line.empty()) continue;
    if (line[0] == '[') {
      Sections.emplace_back(std::move(line), TStringList());
      seen.clear();
      continue;
    }
    if (Sections.empty()) continue;
    TStringList &keys = Sections.back().second;
    if (KeepFirstDuplicate && !seen.insert(UpperCase(LineName(line))).second) continue;
    keys.push_back(std::move(line));
  }
}

TQuorIniFile::TSection *TQuorIniFile::FindSection(const std::string &section) {
  const std::string header = "[" + section + "]";
  for (TSection &s : Sections)
    if (SameText(s.first, header)) return &s;
  return nullptr;
}

int TQuorIniFile::FindKey(const TStringList &lines, const std::string &key,
                          int32_t &lastIndex) const {
  const std::string name = Trim(key);
  // Keys are mostly read and written in file order, so the line after the
  // last one found is the likely one. The whole name must match: a longer
  // key that merely starts with the wanted one is a different setting.
  const int64_t next = int64_t{lastIndex} + 1;
  if (next >= 0 && next < static_cast<int64_t>(lines.size()) &&
      SameText(LineName(lines[static_cast<size_t>(next)]), name)) {
    lastIndex = static_cast<int32_t>(next);
    return lastIndex;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    if (SameText(LineName(lines[i]), name)) {
      lastIndex = static_cast<int32_t>(i);
      return lastIndex;
    }
  }
  return -1;
}

std::string TQuorIniFile::ReadString(const std::string &section, const std::string &key,
                                     const std::string &defaultValue) {
  const TSection *s = FindSection(section);
  if (!s) return defaultValue;
  const int i = FindKey(s->second, key, LastReadIndex);
  if (i < 0) return defaultValue;
  std::string value = LineValue(s->second[static_cast<size_t>(i)]);
  return value.empty() ? defaultValue : value;
}

bool TQuorIniFile::ReadBool(const std::string &section, const std::string &key, bool defaultValue) {
  int n = 0;
  if (!TryStrToInt(ReadString(section, key, "x"), n)) return defaultValue;
  return n == 1;
}

void TQuorIniFile::WriteString(const std::string &section, const std::string &key,
                               const std::string &value) {
  Yield();
  const std::string name = Trim(key);
  if (name.empty() || name.find('=') != std::string::npos || name[0] == '[' ||
      HasLineBreakOrNul(name) || HasLineBreakOrNul(value) || HasLineBreakOrNul(section))
    return;  // could not be read back as this key; not stored
  TSection *s = FindSection(section);
  if (!s) {
    Sections.emplace_back("[" + section + "]", TStringList());
    s = &Sections.back();
  }
  TStringList &lines = s->second;
  const bool blank = Trim(value).empty();
  const int i = FindKey(lines, name, LastWriteIndex);
  if (i < 0) {
    if (blank) return;
    lines.push_back(name + "=" + value);
    LastWriteIndex = static_cast<int32_t>(lines.size()) - 1;
    Modified = true;
    return;
  }
  std::string &line = lines[static_cast<size_t>(i)];
  if (blank) {
    lines.erase(lines.begin() + i);
    LastWriteIndex = i - 1;  // the line that moved up is the next one in order
    Modified = true;
  } else if (LineValue(line) != value) {
    line = name + "=" + value;
    Modified = true;
  }
}

void TQuorIniFile::WriteBool(const std::string &section, const std::string &key, bool flag) {
  WriteString(section, key, flag ? "1" : "0");
}

std::string TQuorIniFile::SaveToText() const {
  std::string text;
  for (const TSection &s : Sections) {
    if (s.second.empty()) continue;
    text += s.first;
    text += "\r\n";
    for (const std::string &line : s.second) {
      text += line;
      text += "\r\n";
    }
    text += "\r\n";
  }
  // A plain text that the loader would take for the enciphered form (a first
  // header holding the marker) is written enciphered, so it reads back whole.
  const bool looksEnciphered =
      std::string_view(text).substr(0, EncipheredHeaderLength).find("Encrypted File v") !=
      std::string_view::npos;
  return Enciphered || looksEnciphered ? Encipher(text) : text;
}

bool TQuorIniFile::UpdateFile(std::string *error) {
  if (FileName.empty()) {
    if (error) *error = "No file name";
    return false;
  }
  if (Sections.empty()) {
    std::error_code ec;
    fs::remove(FileName, ec);
    if (ec) {
      if (error) *error = ec.message();
      return false;
    }
    Modified = false;
    return true;
  }
  // Written beside the old file and renamed over it: the old settings stay
  // whole until the new ones are complete on disk.
  if (!WriteFileAtomically(FileName, SaveToText(), error)) return false;
  Modified = false;
  return true;
}

std::string TQuorIniFile::Encipher(const std::string &plain) {
  // A NUL ends a block's text when read back, so it cannot be carried.
  std::string text;
  text.reserve(plain.size());
  for (char c : plain)
    if (c != '\0') text += c;

  const TBlowfish cipher(kFileKey);
  std::string out = EncipheredHeader;
  for (size_t pos = 0; pos < text.size(); pos += EncipheredBlockSize) {
    std::string block = text.substr(pos, EncipheredBlockSize);
    block.resize((block.size() + 7) / 8 * 8, '\0');
    cipher.EncipherECB(block);
    out += block;
  }
  return out;
}

std::string TQuorIniFile::Decipher(const std::string &data) {
  const TBlowfish cipher(kFileKey);
  std::string text;
  size_t pos = EncipheredHeaderLength;
  while (pos < data.size()) {
    const size_t length = std::min(EncipheredBlockSize, data.size() - pos);
    // A torn last block has a partial cipher block that cannot be read.
    std::string block = data.substr(pos, length / 8 * 8);
    cipher.DecipherECB(block);
    text.append(block, 0, block.find('\0'));
    if (length < EncipheredBlockSize) break;
    pos += length;
  }
  return text;
}
