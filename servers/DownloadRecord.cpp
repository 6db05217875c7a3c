#include "servers/DownloadRecord.h"

#include <sqlite3.h>

#include <vector>

#include "foundation/QuorUtil.h"

namespace {
// The account part compares without case (a user typing "JDoe" is the same
// account), the UIDL exactly: services may hand out ids differing only in
// case, and conflating them would hide or delete the wrong message.
const char *const kSchema =
    "CREATE TABLE IF NOT EXISTS download_record ("
    " section TEXT NOT NULL COLLATE NOCASE,"
    " uidl TEXT NOT NULL COLLATE BINARY,"
    " value INTEGER NOT NULL,"
    " PRIMARY KEY (section, uidl)) WITHOUT ROWID";

// A second process (or a test run beside the program) may hold the write
// lock briefly; waiting is better than failing a DELE.
constexpr int kBusyTimeoutMs = 5000;

class TStmtReset {
 public:
  explicit TStmtReset(sqlite3_stmt *stmt) : FStmt(stmt) {}
  ~TStmtReset() {
    if (FStmt) {
      sqlite3_reset(FStmt);
      sqlite3_clear_bindings(FStmt);
    }
  }

 private:
  sqlite3_stmt *FStmt;
};

void BindText(sqlite3_stmt *stmt, int index, const std::string &text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt *stmt, int index) {
  const auto *data = static_cast<const char *>(sqlite3_column_blob(stmt, index));
  int size = sqlite3_column_bytes(stmt, index);
  return data ? std::string(data, static_cast<size_t>(size)) : std::string();
}
}  // namespace

TDownloadRecord::TDownloadRecord(std::string path) : FPath(std::move(path)) {}

TDownloadRecord::~TDownloadRecord() {
  for (sqlite3_stmt *stmt : {FList, FRead, FWrite, FDelete}) sqlite3_finalize(stmt);
  if (FDb) sqlite3_close(FDb);
}

std::string TDownloadRecord::DefaultPath() { return GetProgramFolder() + "/DownloadRecord.sqlite"; }

bool TDownloadRecord::Fail(const char *what) {
  FLastError = std::string(what) + ": " + (FDb ? sqlite3_errmsg(FDb) : "no database");
  return false;
}

bool TDownloadRecord::Open() {
  if (FDb) return true;
  if (FPath.empty()) FPath = DefaultPath();
  sqlite3 *db = nullptr;
  int rc = sqlite3_open_v2(FPath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    FLastError = "Cannot open download record " + FPath + ": " +
                 (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return false;
  }
  FDb = db;
  sqlite3_busy_timeout(FDb, kBusyTimeoutMs);
  // WAL with synchronous=FULL: every commit is fsynced to the log before
  // sqlite3_step returns, so the entry that a "+OK" reports survives a crash
  // of the program and of the machine; one fsync per commit is nothing next
  // to the webmail round trip that precedes every write.
  const char *setup[] = {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", kSchema};
  for (const char *sql : setup) {
    if (sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail("Cannot prepare download record");
      sqlite3_close(FDb);
      FDb = nullptr;
      return false;
    }
  }
  return true;
}

sqlite3_stmt *TDownloadRecord::Prepare(sqlite3_stmt *&slot, const char *sql) {
  if (!Open()) return nullptr;
  if (!slot &&
      sqlite3_prepare_v3(FDb, sql, -1, SQLITE_PREPARE_PERSISTENT, &slot, nullptr) != SQLITE_OK) {
    Fail("Cannot prepare statement");
    slot = nullptr;
  }
  return slot;
}

TStringList TDownloadRecord::ListEntries(const std::string &section) {
  TStringList names;
  sqlite3_stmt *stmt =
      Prepare(FList, "SELECT uidl, value FROM download_record WHERE section = ?1 ORDER BY uidl");
  if (!stmt) return names;
  TStmtReset reset(stmt);
  BindText(stmt, 1, section);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) names.push_back(ColumnText(stmt, 0));
  if (rc != SQLITE_DONE) Fail("Cannot list download record");
  return names;
}

std::unordered_map<std::string, int> TDownloadRecord::ReadSection(const std::string &section) {
  std::unordered_map<std::string, int> entries;
  sqlite3_stmt *stmt =
      Prepare(FList, "SELECT uidl, value FROM download_record WHERE section = ?1 ORDER BY uidl");
  if (!stmt) return entries;
  TStmtReset reset(stmt);
  BindText(stmt, 1, section);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
    entries[ColumnText(stmt, 0)] = sqlite3_column_int(stmt, 1);
  if (rc != SQLITE_DONE) Fail("Cannot read download record");
  return entries;
}

int TDownloadRecord::ReadEntry(const std::string &section, const std::string &uidl, int def) {
  sqlite3_stmt *stmt =
      Prepare(FRead, "SELECT value FROM download_record WHERE section = ?1 AND uidl = ?2");
  if (!stmt) return def;
  TStmtReset reset(stmt);
  BindText(stmt, 1, section);
  BindText(stmt, 2, uidl);
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) return sqlite3_column_int(stmt, 0);
  if (rc != SQLITE_DONE) Fail("Cannot read download record");
  return def;
}

bool TDownloadRecord::WriteEntry(const std::string &section, const std::string &uidl, int value) {
  sqlite3_stmt *stmt =
      Prepare(FWrite,
              "INSERT INTO download_record (section, uidl, value) VALUES (?1, ?2, ?3) "
              "ON CONFLICT (section, uidl) DO UPDATE SET value = excluded.value");
  if (!stmt) return false;
  TStmtReset reset(stmt);
  BindText(stmt, 1, section);
  BindText(stmt, 2, uidl);
  sqlite3_bind_int(stmt, 3, value);
  if (sqlite3_step(stmt) != SQLITE_DONE) return Fail("Cannot write download record");
  return true;
}

bool TDownloadRecord::DeleteEntry(const std::string &section, const std::string &uidl) {
  sqlite3_stmt *stmt =
      Prepare(FDelete, "DELETE FROM download_record WHERE section = ?1 AND uidl = ?2");
  if (!stmt) return false;
  TStmtReset reset(stmt);
  BindText(stmt, 1, section);
  BindText(stmt, 2, uidl);
  if (sqlite3_step(stmt) != SQLITE_DONE) return Fail("Cannot delete from download record");
  return true;
}

int TDownloadRecord::DeleteEntriesNotIn(const std::string &section,
                                        const std::unordered_set<std::string> &keep) {
  FLastError.clear();
  TStringList stale;
  for (const std::string &name : ListEntries(section))
    if (!keep.count(name)) stale.push_back(name);
  if (!FLastError.empty()) return -1;
  if (stale.empty()) return 0;
  if (sqlite3_exec(FDb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail("Cannot begin reconciliation");
    return -1;
  }
  for (const std::string &name : stale) {
    if (!DeleteEntry(section, name)) {
      sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
      return -1;
    }
  }
  if (sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail("Cannot commit reconciliation");
    sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    return -1;
  }
  return static_cast<int>(stale.size());
}
