#pragma once
// Per-account memory of what the POP3 gateway already handed on (1) or was
// told to delete (2), so later connections can leave those messages out.
// Stored in an SQLite file so that an entry written before a reply goes out
// survives a crash right after that reply.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "foundation/StrUtil.h"

struct sqlite3;
struct sqlite3_stmt;

class TDownloadRecord {
 public:
  enum : int { rv_None = 0, rv_PassedOn = 1, rv_Deleted = 2 };

  // Path empty: the default file in the program folder. The file is opened
  // on first use, so constructing a record never fails.
  explicit TDownloadRecord(std::string path = std::string());
  ~TDownloadRecord();
  TDownloadRecord(const TDownloadRecord &) = delete;
  TDownloadRecord &operator=(const TDownloadRecord &) = delete;

  static std::string DefaultPath();
  // "jdoe@hotmail.comUIDL": one section per account.
  static std::string SectionFor(const std::string &userId) { return userId + "UIDL"; }

  // The four operations the gateway needs. Failures leave the last error in
  // LastError(); reads then give the default.
  TStringList ListEntries(const std::string &section);
  int ReadEntry(const std::string &section, const std::string &uidl, int def = rv_None);
  bool WriteEntry(const std::string &section, const std::string &uidl, int value);
  bool DeleteEntry(const std::string &section, const std::string &uidl);

  // Bulk forms so that an account with thousands of entries is reconciled
  // and read in one statement or one transaction rather than one fsync each.
  std::unordered_map<std::string, int> ReadSection(const std::string &section);
  // Deletes every entry of the section whose name is not in Keep; returns
  // the number removed, -1 on failure (nothing is then removed).
  int DeleteEntriesNotIn(const std::string &section, const std::unordered_set<std::string> &keep);

  const std::string &LastError() const { return FLastError; }
  const std::string &Path() const { return FPath; }

 private:
  bool Open();
  bool Fail(const char *what);
  sqlite3_stmt *Prepare(sqlite3_stmt *&slot, const char *sql);

  std::string FPath;
  std::string FLastError;
  sqlite3 *FDb = nullptr;
  sqlite3_stmt *FList = nullptr;
  sqlite3_stmt *FRead = nullptr;
  sqlite3_stmt *FWrite = nullptr;
  sqlite3_stmt *FDelete = nullptr;
};
