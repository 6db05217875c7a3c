#include "config/QuorIniFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path &path, const std::string &data) {
  std::ofstream(path, std::ios::binary) << data;
}

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ini_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "Settings.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string path_;
};

TEST_F(IniFileTest, LoadingTrimsSkipsAndKeepsTheFirstOfRepeatedSections) {
  WriteFile(path_,
            "Orphan=dropped\r\n"
            "  [Receiving]  \n"
            "\tPopPort=110   \r"
            "\r\n"
            "MarkRead=0\r\n"
            "key = spaced value\n"
            "[receiving]\r\n"
            "PopPort=999\r\n"
            "[Empty]\r\n");
  TQuorIniFile ini(path_);
  ASSERT_EQ(ini.Sections.size(), 3u);
  EXPECT_EQ(ini.Sections[0].first, "[Receiving]");
  EXPECT_EQ(ini.Sections[0].second,
            (TStringList{"PopPort=110", "MarkRead=0", "key = spaced value"}));
  EXPECT_EQ(ini.ReadString("RECEIVING", "popport", "d"), "110");
  EXPECT_EQ(ini.ReadString("Receiving", "Key", "d"), " spaced value");
  EXPECT_EQ(ini.ReadString("Nowhere", "Orphan", "d"), "d");
  EXPECT_FALSE(ini.Modified);
}

TEST_F(IniFileTest, FileWithoutHeadersLoadsEmpty) {
  WriteFile(path_, "a=1\r\nb=2\r\n");
  TQuorIniFile ini(path_);
  EXPECT_TRUE(ini.Sections.empty());
  EXPECT_EQ(ini.ReadString("", "a", "none"), "none");
}

TEST_F(IniFileTest, DuplicateKeysFollowKeepFirstDuplicate) {
  WriteFile(path_, "[S]\r\nName=first\r\nNAME=second\r\nOther=x\r\n[T]\r\nname=third\r\n");
  {
    TQuorIniFile ini(path_, false, true);
    EXPECT_EQ(ini.Sections[0].second, (TStringList{"Name=first", "Other=x"}));
    EXPECT_EQ(ini.Sections[1].second, (TStringList{"name=third"}));
  }
  TQuorIniFile ini(path_);
  EXPECT_EQ(ini.Sections[0].second.size(), 3u);
  EXPECT_EQ(ini.ReadString("S", "name", ""), "first");
}

TEST_F(IniFileTest, ReadsFallBackToDefaults) {
  WriteFile(path_,
            "[F]\r\nOne=1\r\nZero=0\r\nTwo=2\r\nWord=yes\r\nBlank=\r\nPadded= 1 \r\nBare\r\n");
  TQuorIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("F", "Blank", "def"), "def");
  EXPECT_EQ(ini.ReadString("F", "Bare", "def"), "def");
  EXPECT_EQ(ini.ReadString("F", "Missing", "def"), "def");
  EXPECT_TRUE(ini.ReadBool("F", "One", false));
  EXPECT_FALSE(ini.ReadBool("F", "Zero", true));
  EXPECT_FALSE(ini.ReadBool("F", "Two", true));
  EXPECT_TRUE(ini.ReadBool("F", "Word", true));
  EXPECT_FALSE(ini.ReadBool("F", "Word", false));
  EXPECT_TRUE(ini.ReadBool("F", "Missing", true));
  EXPECT_TRUE(ini.ReadBool("F", "Padded", false));
}

TEST_F(IniFileTest, WritesChangeOnlyWhatDiffersAndSaveOnlyWhenModified) {
  WriteFile(path_, "[Receiving]\r\nMarkRead=1\r\nPopPort=110\r\n");
  {
    TQuorIniFile ini(path_);
    ini.WriteBool("Receiving", "MarkRead", true);
    ini.WriteString("Receiving", "PopPort", "110");
    ini.WriteString("Receiving", "NotThere", "   ");
    EXPECT_FALSE(ini.Modified);
    // An unmodified instance must not write: prove it by changing the file
    // behind its back.
    WriteFile(path_, "[Receiving]\r\nMarkRead=changed elsewhere\r\n");
  }
  EXPECT_EQ(ReadFile(path_), "[Receiving]\r\nMarkRead=changed elsewhere\r\n");

  WriteFile(path_, "[Receiving]\r\nMarkRead=1\r\nPopPort=110\r\nBulkMail=1\r\n");
  {
    TQuorIniFile ini(path_);
    ini.WriteBool("Receiving", "MarkRead", false);
    EXPECT_TRUE(ini.Modified);
    ini.WriteString("Receiving", "PopPort", "1110 ");  // as the port field gives it
    ini.WriteString("Receiving", "BulkMail", " ");     // blank removes the line
    ini.WriteString("Sending", "SmtpPort", "1025");
  }
  EXPECT_EQ(ReadFile(path_),
            "[Receiving]\r\nMarkRead=0\r\nPopPort=1110 \r\n\r\n[Sending]\r\nSmtpPort=1025\r\n\r\n");
  TQuorIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Receiving", "PopPort", ""), "1110");
  EXPECT_EQ(ini.ReadString("Receiving", "BulkMail", "gone"), "gone");
}

TEST_F(IniFileTest, LongerKeyAfterTheLastOneFoundIsADifferentSetting) {
  WriteFile(path_, "[Log]\r\nSaveLogs=1\r\nLogDirOld=/keep\r\nLogDir=/a\r\nLogDays=3\r\n");
  {
    TQuorIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Log", "SaveLogs", ""), "1");
    EXPECT_EQ(ini.ReadString("Log", "LogDir", ""), "/a");
    EXPECT_EQ(ini.LastReadIndex, 2);
    EXPECT_EQ(ini.ReadString("Log", "LogDays", ""), "3");
    EXPECT_EQ(ini.LastReadIndex, 3);
    ini.WriteString("Log", "SaveLogs", "0");
    ini.WriteString("Log", "LogDir", "/b");
    ini.WriteString("Log", "LogDays", "");
  }
  EXPECT_EQ(ReadFile(path_), "[Log]\r\nSaveLogs=0\r\nLogDirOld=/keep\r\nLogDir=/b\r\n\r\n");
}

TEST_F(IniFileTest, ValuesThatWouldBreakTheFileAreNotStored) {
  {
    TQuorIniFile ini(path_);
    ini.WriteString("Log", "LogDir", "/tmp\r\n[Injected]\r\nEvil=1");
    ini.WriteString("Log", "A=B", "1");
    ini.WriteString("Log", "Nul", std::string("a\0b", 3));
    ini.WriteString("Log", "LogDays", "3");
  }
  TQuorIniFile ini(path_);
  ASSERT_EQ(ini.Sections.size(), 1u);
  EXPECT_EQ(ini.Sections[0].second, (TStringList{"LogDays=3"}));
}

TEST_F(IniFileTest, SavingLeavesOutEmptySectionsAndRemovesAFileWithNone) {
  WriteFile(path_, "[A]\r\nx=1\r\n");
  {
    TQuorIniFile ini(path_);
    ini.WriteString("A", "x", "");
    ini.WriteString("B", "y", "");
  }
  EXPECT_TRUE(fs::exists(path_));
  EXPECT_EQ(ReadFile(path_), "");

  {
    TQuorIniFile ini(path_);
    ini.WriteString("A", "x", "1");
    ini.Sections.clear();
  }
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(IniFileTest, CreationMakesMissingFoldersAndAnEmptyFile) {
  const std::string nested = (dir_ / "a" / "b" / "Settings.ini").string();
  {
    TQuorIniFile ini(nested);
    EXPECT_TRUE(ini.Sections.empty());
  }
  EXPECT_TRUE(fs::is_regular_file(nested));
  EXPECT_EQ(fs::file_size(nested), 0u);

  WriteFile(path_, "[A]\r\nx=1\r\n");
  TQuorIniFile skipped(path_, true);
  EXPECT_TRUE(skipped.Sections.empty());
}

TEST_F(IniFileTest, WrittenFileReadsBackUnchanged) {
  const std::string plain = ReadFile(fs::path(BRELVANE_TEST_DATA) / "config" / "plain.ini");
  ASSERT_FALSE(plain.empty());
  WriteFile(path_, plain);
  std::vector<TQuorIniFile::TSection> before;
  {
    TQuorIniFile ini(path_);
    before = ini.Sections;
    EXPECT_EQ(ini.SaveToText(), plain);
    ini.WriteString("Log", "LogDays", "15");
    ini.WriteString("Log", "LogDays", "14");
    EXPECT_TRUE(ini.Modified);
  }
  EXPECT_EQ(ReadFile(path_), plain);
  TQuorIniFile ini(path_);
  EXPECT_EQ(ini.Sections, before);
}

TEST_F(IniFileTest, EncipheredFileReadsLikeItsPlainTextAndIsWrittenBackEnciphered) {
  const fs::path data = fs::path(BRELVANE_TEST_DATA) / "config";
  fs::copy_file(data / "enciphered.ini", path_);
  std::vector<TQuorIniFile::TSection> expected;
  {
    WriteFile(dir_ / "plain.ini", ReadFile(data / "plain.ini"));
    TQuorIniFile plain((dir_ / "plain.ini").string());
    expected = plain.Sections;
  }
  {
    TQuorIniFile ini(path_);
    EXPECT_TRUE(ini.Enciphered);
    EXPECT_EQ(ini.Sections, expected);
    // This value straddles the 248-byte block boundary.
    EXPECT_EQ(ini.ReadString("Extra", "LongValue", "").size(), 300u);
    EXPECT_EQ(ini.ReadString("Log", "LogDir", ""), "/var/tmp/brelvane logs");
    ini.WriteString("Sending", "SmtpPort", "2525");
  }
  const std::string saved = ReadFile(path_);
  EXPECT_EQ(saved.compare(0, 21, TQuorIniFile::EncipheredHeader), 0);
  EXPECT_EQ(saved.find("SmtpPort"), std::string::npos);
  TQuorIniFile ini(path_);
  EXPECT_TRUE(ini.Enciphered);
  EXPECT_EQ(ini.ReadString("Sending", "SmtpPort", ""), "2525");
  std::string digits;
  for (int i = 0; i < 30; ++i) digits += "0123456789";
  EXPECT_EQ(ini.ReadString("Extra", "LongValue", ""), digits);
}

TEST_F(IniFileTest, EncipheredFormRoundTripsAtBlockBoundaries) {
  for (size_t length :
       {size_t{0}, size_t{1}, size_t{247}, size_t{248}, size_t{249}, size_t{496}, size_t{1000}}) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
    const std::string data = TQuorIniFile::Encipher(text);
    EXPECT_EQ(data.size(), 21 + (length / 248) * 248 + ((length % 248) + 7) / 8 * 8) << length;
    EXPECT_EQ(TQuorIniFile::Decipher(data), text) << length;
  }
  // A NUL cannot be carried and must not cut off the rest of its block.
  EXPECT_EQ(TQuorIniFile::Decipher(TQuorIniFile::Encipher(std::string("ab\0cd", 5))), "abcd");
}

TEST_F(IniFileTest, PlainTextResemblingTheEncipheredFormIsNotMisreadAfterSaving) {
  {
    TQuorIniFile ini(path_);
    ini.WriteString("XEncrypted File v2", "Key", "1");
  }
  TQuorIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("XEncrypted File v2", "Key", ""), "1");
}

// The child is killed by the file-size limit in the middle of writing the new
// settings: a real crash at the worst moment. The old file must survive it.
TEST_F(IniFileTest, CrashWhileSavingLeavesTheOldFileIntact) {
  const std::string old = "[Receiving]\r\nPopPort=110\r\n\r\n";
  WriteFile(path_, old);
  const rlim_t limit = 64 * 1024;

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    rlimit small{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &small);
    ::signal(SIGXFSZ, SIG_DFL);
    TQuorIniFile ini(path_);
    ini.WriteString("Receiving", "PopPort", "1110");
    ini.WriteString("Receiving", "Big", std::string(4 * limit, 'z'));
    const bool saved = ini.UpdateFile();
    ::_exit(saved ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  // Either killed by the limit, or the write failed and said so.
  EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) ||
              (WIFEXITED(status) && WEXITSTATUS(status) == 3))
      << status;
  EXPECT_EQ(ReadFile(path_), old);
  TQuorIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Receiving", "PopPort", ""), "110");
}

TEST_F(IniFileTest, HostileFilesLoadWithoutHarm) {
  std::mt19937 random(7);
  std::string garbage;
  for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(random());
  std::string hugeLine = "[Big]\r\nKey=" + std::string(16 * 1024 * 1024, 'v') + "\r\nAfter=1\r\n";
  const std::string cases[] = {
      garbage,
      "[Start]\r\n" + garbage,
      hugeLine,
      std::string(1 << 20, '['),
      "Encrypted File v1.0\r\n" + garbage.substr(0, 1001),
      "Encrypted File v",
      "xxEncrypted File v1.0\r\n" + garbage.substr(0, 500),
      std::string("[A]\0\0\0=\r\n==\r\n=x\r\n[\r\n]\r\n", 23),
  };
  for (const std::string &content : cases) {
    WriteFile(path_, content);
    TQuorIniFile ini(path_);
    (void)ini.ReadString("Big", "Key", "");
    ini.WriteString("Receiving", "PopPort", "110");
    std::string error;
    ASSERT_TRUE(ini.UpdateFile(&error)) << error;
    TQuorIniFile reread(path_);
    EXPECT_EQ(reread.ReadString("Receiving", "PopPort", ""), "110");
  }
  WriteFile(path_, hugeLine);
  TQuorIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Big", "Key", "").size(), 16u * 1024 * 1024);
  EXPECT_EQ(ini.ReadString("Big", "After", ""), "1");
}

}  // namespace
