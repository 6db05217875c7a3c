#pragma once
// The settings file: sections of key=value lines, read whole into memory when
// the object is made and written back when it goes, only if something
// changed. Reads and writes in file order cost one comparison each thanks to
// the remembered indexes.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/StrUtil.h"

class TQuorIniFile {
 public:
  // The header line with its brackets, owning the section's key lines.
  using TSection = std::pair<std::string, TStringList>;

  // First 21 bytes of the enciphered form.
  static constexpr const char *EncipheredHeader = "Encrypted File v1.0\r\n";
  static constexpr size_t EncipheredHeaderLength = 21;
  static constexpr size_t EncipheredBlockSize = 248;

  // Makes the file (and its folders) when missing; loads it unless
  // SkipLoading. KeepFirstDuplicate must be known before loading.
  explicit TQuorIniFile(const std::string &fileName, bool skipLoading = false,
                        bool keepFirstDuplicate = false);
  // Saves when modified; failures are swallowed (use UpdateFile to see them).
  ~TQuorIniFile();
  TQuorIniFile(const TQuorIniFile &) = delete;
  TQuorIniFile &operator=(const TQuorIniFile &) = delete;

  std::string ReadString(const std::string &section, const std::string &key,
                         const std::string &defaultValue);
  bool ReadBool(const std::string &section, const std::string &key, bool defaultValue);
  void WriteString(const std::string &section, const std::string &key, const std::string &value);
  void WriteBool(const std::string &section, const std::string &key, bool flag);

  // Replaces the contents with those of the file (no file: empty).
  void LoadFromFile();
  // Replaces the contents with Data, in the plain or the enciphered form.
  void LoadFromText(const std::string &data);
  // Writes the file now, in the form it was read in; clears Modified.
  bool UpdateFile(std::string *error = nullptr);
  // The bytes UpdateFile writes (empty text when there is nothing to write).
  std::string SaveToText() const;

  // Plain form <-> enciphered form (header included).
  static std::string Encipher(const std::string &plain);
  static std::string Decipher(const std::string &data);

  std::string FileName;
  std::vector<TSection> Sections;
  bool Enciphered = false;
  bool Modified = false;
  int32_t LastReadIndex = -1;
  int32_t LastWriteIndex = -1;
  bool KeepFirstDuplicate = false;

 private:
  TSection *FindSection(const std::string &section);
  int FindKey(const TStringList &lines, const std::string &key, int32_t &lastIndex) const;
};
