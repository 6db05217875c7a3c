#include "servers/DownloadRecord.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/QuorUtil.h"

namespace fs = std::filesystem;

namespace {

class DownloadRecordTest : public testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("brelvane-record-" + RandomText(10));
    fs::create_directories(FDir);
    FPath = (FDir / "record.sqlite").string();
  }
  void TearDown() override { fs::remove_all(FDir); }
  fs::path FDir;
  std::string FPath;
};

TEST_F(DownloadRecordTest, EntriesAreKeptPerAccountWithExactUidls) {
  TDownloadRecord record(FPath);
  const std::string a = TDownloadRecord::SectionFor("jdoe@hotmail.com");
  const std::string b = TDownloadRecord::SectionFor("other@hotmail.com");
  EXPECT_EQ(record.ReadEntry(a, "U1"), 0);
  ASSERT_TRUE(record.WriteEntry(a, "U1", 1));
  ASSERT_TRUE(record.WriteEntry(a, "u1", 2));
  ASSERT_TRUE(record.WriteEntry(b, "U1", 2));
  ASSERT_TRUE(record.WriteEntry(a, "U1", 2));  // overwrite, not a second row
  EXPECT_EQ(record.ReadEntry(a, "U1"), 2);
  EXPECT_EQ(record.ReadEntry(a, "u1"), 2);
  EXPECT_EQ(record.ListEntries(a), (TStringList{"U1", "u1"}));
  // The account name is the same account whatever case the user typed.
  EXPECT_EQ(record.ReadEntry(TDownloadRecord::SectionFor("JDoe@Hotmail.com"), "U1"), 2);

  ASSERT_TRUE(record.DeleteEntry(a, "U1"));
  EXPECT_EQ(record.ReadEntry(a, "U1", 7), 7);
  EXPECT_EQ(record.ListEntries(b), TStringList{"U1"});
  EXPECT_EQ(record.LastError(), "");
}

TEST_F(DownloadRecordTest, ReconciliationKeepsOnlyListedUidlsAcrossThousands) {
  const std::string s = TDownloadRecord::SectionFor("big@hotmail.com");
  {
    TDownloadRecord record(FPath);
    ASSERT_TRUE(record.WriteEntry(s, "M0", 1));
    // Seeded in one transaction: one fsync per entry would only slow the test.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(FPath.c_str(), &db), SQLITE_OK);
    std::string sql = "BEGIN;";
    for (int i = 1; i < 3000; ++i)
      sql += "INSERT INTO download_record VALUES('" + s + "','M" + std::to_string(i) + "'," +
             std::to_string(1 + i % 2) + ");";
    sql += "COMMIT;";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ASSERT_TRUE(record.WriteEntry("other@hotmail.comUIDL", "M1", 1));
    std::unordered_set<std::string> keep;
    for (int i = 0; i < 3000; i += 3) keep.insert("M" + std::to_string(i));
    keep.insert("not-in-record");
    EXPECT_EQ(record.DeleteEntriesNotIn(s, keep), 2000);
    EXPECT_EQ(record.DeleteEntriesNotIn(s, keep), 0);
  }
  TDownloadRecord reopened(FPath);
  auto entries = reopened.ReadSection(s);
  EXPECT_EQ(entries.size(), 1000u);
  EXPECT_EQ(entries["M3"], 2);
  EXPECT_EQ(entries["M6"], 1);
  EXPECT_EQ(entries.count("M1"), 0u);
  EXPECT_EQ(reopened.ReadEntry("other@hotmail.comUIDL", "M1"), 1);
}

// A write that returned must be on disk even if the process dies at once,
// which is what the "+OK" after it promises.
TEST_F(DownloadRecordTest, WriteSurvivesTheWriterBeingKilled) {
  const std::string s = TDownloadRecord::SectionFor("crash@hotmail.com");
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    TDownloadRecord record(FPath);
    bool ok = record.WriteEntry(s, "UID-1", 2) && record.WriteEntry(s, "UID-2", 1);
    char c = ok ? 'y' : 'n';
    if (write(pipeFds[1], &c, 1) != 1) _exit(3);
    for (;;) pause();  // killed here, record still open
  }
  close(pipeFds[1]);
  char c = 0;
  ASSERT_EQ(read(pipeFds[0], &c, 1), 1);
  close(pipeFds[0]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(c, 'y');

  TDownloadRecord record(FPath);
  EXPECT_EQ(record.ReadEntry(s, "UID-1"), 2);
  EXPECT_EQ(record.ReadEntry(s, "UID-2"), 1);
}

TEST_F(DownloadRecordTest, UnwritableLocationFailsWithATextInsteadOfRaising) {
  TDownloadRecord record((FDir / "no-such-folder" / "record.sqlite").string());
  EXPECT_FALSE(record.WriteEntry("xUIDL", "U", 1));
  EXPECT_NE(record.LastError(), "");
  EXPECT_EQ(record.ReadEntry("xUIDL", "U", 0), 0);
  EXPECT_TRUE(record.ListEntries("xUIDL").empty());
  EXPECT_EQ(record.DeleteEntriesNotIn("xUIDL", {}), -1);
}

TEST_F(DownloadRecordTest, DefaultFileLivesInTheProgramFolder) {
  SetProgramFolder(FDir.string());
  TDownloadRecord record;
  ASSERT_TRUE(record.WriteEntry("aUIDL", "U", 1));
  EXPECT_EQ(fs::path(record.Path()).parent_path(), FDir);
  EXPECT_TRUE(fs::exists(record.Path()));
  SetProgramFolder("");
}

}  // namespace
