#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "foundation/QuorUtil.h"
#include "shared/TestFiles.h"

namespace {
namespace fs = std::filesystem;

TEST(QuorUtil, VersionTextHasFourNumbers) {
  std::string v = GetVersionText();
  ASSERT_EQ(v.rfind("v", 0), 0u);
  EXPECT_EQ(std::count(v.begin(), v.end(), '.'), 3) << v;
  EXPECT_EQ(v.find(" Beta") != std::string::npos, v.rfind("v0.", 0) == 0) << v;
}

TEST(WildcardPos, FindsOneBasedIgnoringCaseWithAnyCharMark) {
  EXPECT_EQ(WildcardPos("abc", "xxABCxx"), 3);
  EXPECT_EQ(WildcardPos("a?c", "zzaXc"), 3);
  EXPECT_EQ(WildcardPos("???", "ab"), 0);
  EXPECT_EQ(WildcardPos("Content-Length: ?", "HTTP/1.1 200\r\ncontent-length: 5"), 15);
  EXPECT_EQ(WildcardPos("abd", "abcabd"), 4) << "a failed partial match must not skip the real one";
  EXPECT_EQ(WildcardPos("x", ""), 0);
  EXPECT_EQ(WildcardPos("", "abc"), 0);
  EXPECT_EQ(WildcardPos("?", "?"), 1);
  EXPECT_EQ(WildcardPos("b?", "ab"), 0) << "the mark needs a character to stand on";
}

TEST(RandomText, LettersAndDigitsOfTheAskedLength) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string s = RandomText(10);
    ASSERT_EQ(s.size(), 10u);
    for (char c : s) ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << s;
    seen.insert(s);
  }
  EXPECT_GT(seen.size(), 195u);
  EXPECT_EQ(RandomText(0), "");
  EXPECT_EQ(RandomText(-3), "");
  for (int i = 0; i < 1000; ++i) {
    int r = RandomBelow(7);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 7);
  }
  EXPECT_EQ(RandomBelow(0), 0);
}

int gYields = 0;
void CountingYield() { ++gYields; }

TEST(YieldHook, RunsOnlyOnTheMainThread) {
  gYields = 0;
  SetYieldHook(&CountingYield);
  SetMainThread();
  Yield();
  EXPECT_EQ(gYields, 1);
  bool otherIsMain = true;
  std::thread([&] {
    otherIsMain = IsMainThread();
    Yield();
  }).join();
  EXPECT_FALSE(otherIsMain);
  EXPECT_EQ(gYields, 1);
  SetYieldHook(nullptr);
  Yield();
  EXPECT_EQ(gYields, 1);
}

TEST(ProgressHook, ThrottlesTextlessCallsAndKeepsThreadsApart) {
  int calls = 0;
  std::vector<std::string> texts;
  ASSERT_TRUE(RegisterProgressCallback([&](const std::string &text, int64_t, int64_t) {
    ++calls;
    texts.push_back(text);
    return text == "stop";
  }));
  EXPECT_FALSE(ProgressHook());
  EXPECT_FALSE(ProgressHook());  // within 200 ms: not passed on
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(ProgressHook("with text"));  // texts always pass
  EXPECT_TRUE(ProgressHook("stop"));
  EXPECT_EQ(calls, 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  ProgressHook();
  EXPECT_EQ(calls, 4);

  // A thread with no callback goes on; five threads may register, a sixth not.
  bool stopped = true;
  std::thread([&] { stopped = ProgressHook("stop"); }).join();
  EXPECT_FALSE(stopped);
  EXPECT_EQ(calls, 4);

  std::vector<int> registered;
  std::mutex m;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 5; ++i)
    threads.emplace_back([&] {
      bool ok =
          RegisterProgressCallback([](const std::string &, int64_t, int64_t) { return true; });
      {
        std::lock_guard<std::mutex> g(m);
        registered.push_back(ok ? 1 : 0);
      }
      ++ready;
      while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      UnregisterProgressCallback();
    });
  while (ready < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  go = true;
  for (auto &t : threads) t.join();
  // This thread holds one slot, so exactly four of the five others got one.
  EXPECT_EQ(std::count(registered.begin(), registered.end(), 1), 4);

  UnregisterProgressCallback();
  EXPECT_FALSE(ProgressHook("stop"));
  EXPECT_EQ(calls, 4);
}

TEST(ProgramFolder, FollowsOverrideAndEnvironmentAndIsCreated) {
  fs::path base = fs::temp_directory_path() / ("brelvane-pf-" + RandomText(6));
  SetProgramFolder((base / "over/").string());
  EXPECT_EQ(GetProgramFolder(), (base / "over").string());
  EXPECT_TRUE(fs::is_directory(base / "over"));
  SetProgramFolder("");

  const char *oldHome = std::getenv("BRELVANE_HOME");
  std::string saved = oldHome ? oldHome : "";
  setenv("BRELVANE_HOME", (base / "env").c_str(), 1);
  EXPECT_EQ(GetProgramFolder(), (base / "env").string());
  unsetenv("BRELVANE_HOME");
  setenv("XDG_DATA_HOME", (base / "xdg").c_str(), 1);
  EXPECT_EQ(GetProgramFolder(), (base / "xdg" / "Brelvane").string());
  EXPECT_TRUE(fs::is_directory(base / "xdg" / "Brelvane"));
  unsetenv("XDG_DATA_HOME");
  if (oldHome) setenv("BRELVANE_HOME", saved.c_str(), 1);
  fs::remove_all(base);
}

TEST(DeveloperSwitch, CommandLineWordTurnsItOn) {
  SetDeveloperMode(false);
  std::string word = std::string("-") + kDeveloperWord;
  EXPECT_EQ(std::string(kDeveloperWord).size(), 6u);
  std::string other = "-Minimize";
  char *argv1[] = {const_cast<char *>("brelvane"), other.data()};
  CheckDeveloperCommandLine(2, argv1);
  EXPECT_FALSE(IsDeveloperMode());
  char *argv2[] = {const_cast<char *>("brelvane"), other.data(), word.data()};
  CheckDeveloperCommandLine(3, argv2);
  EXPECT_TRUE(IsDeveloperMode());
  SetDeveloperMode(false);
  EXPECT_FALSE(IsDeveloperMode());
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("brelvane-files-" + RandomText(8));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Read(const fs::path &p) { return ReadFileText(p); }
  fs::path dir;
};

TEST_F(FilesTest, UniquePathCarriesTagAndAvoidsExistingNames) {
  std::set<std::string> made;
  for (int i = 0; i < 50; ++i) {
    std::string p = GetUniquePath(dir.string(), "Temp", ".eml");
    fs::path path(p);
    EXPECT_EQ(path.parent_path(), dir);
    std::string name = path.filename().string();
    ASSERT_EQ(name.size(), std::string("Temp[abcde].eml").size()) << name;
    EXPECT_EQ(name.substr(0, 5), "Temp[");
    EXPECT_EQ(name.substr(10), "].eml");
    EXPECT_FALSE(fs::exists(path));
    std::ofstream(path) << "x";
    made.insert(p);
  }
  EXPECT_EQ(made.size(), 50u);
}

TEST_F(FilesTest, AtomicWriteReplacesWholeAndLeavesNoTemporaries) {
  fs::path target = dir / "Settings.ini";
  std::string error = "stale";
  ASSERT_TRUE(WriteFileAtomically(target.string(), std::string("first\0binary", 12), &error))
      << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(Read(target), std::string("first\0binary", 12));
  ASSERT_TRUE(WriteFileAtomically(target.string(), "second"));
  EXPECT_EQ(Read(target), "second");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  // Into a folder that does not exist: failure with a reason, old data intact.
  EXPECT_FALSE(WriteFileAtomically((dir / "missing" / "x.ini").string(), "data", &error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
  // A target that is a folder cannot be replaced; no temporary may be left.
  fs::create_directories(dir / "sub" / "inner");
  EXPECT_FALSE(WriteFileAtomically((dir / "sub").string(), "data", &error));
  EXPECT_TRUE(fs::is_directory(dir / "sub"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}
}  // namespace
