#include "config/ValueScrambler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/QuorIniFile.h"

namespace {

const std::string kSamples[] = {
    "",
    "a",
    "ab",
    "..",
    "..leading dots",
    "someone@example.net",
    "pass word with blanks ",
    " leading blank",
    "quotes\"and=equals;and[brackets]",
    std::string("8-bit \xe9\xfc\xff and \x01 control"),
    std::string(300, 'x'),
};

TEST(ValueScrambler, RoundTripsAndHidesTheText) {
  for (const std::string &value : kSamples) {
    for (int i = 0; i < 20; ++i) {  // the random prefix changes the output
      const std::string scrambled = ScrambleValue(value);
      ASSERT_EQ(UnscrambleValue(scrambled), value) << "value '" << value << "'";
      if (value.size() > 3) {
        EXPECT_EQ(scrambled.find(value), std::string::npos);
      }
      for (unsigned char c : scrambled) {
        ASSERT_TRUE(c > ' ' && c < 127) << scrambled;
      }
    }
  }
}

TEST(ValueScrambler, RandomPrefixMakesEachScramblingDifferent) {
  std::string first = ScrambleValue("secret");
  bool differed = false;
  for (int i = 0; i < 20 && !differed; ++i) differed = ScrambleValue("secret") != first;
  EXPECT_TRUE(differed);
}

TEST(ValueScrambler, SurvivesASaveAndLoadOfTheSettingsFile) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("scrambler_" + std::to_string(::getpid()) + ".ini"))
                               .string();
  std::filesystem::remove(path);
  for (const std::string &value : kSamples) {
    if (value.empty()) continue;
    {
      TQuorIniFile ini(path);
      ini.WriteString("Application", "LastChallange", ScrambleValue(value));
    }
    TQuorIniFile ini(path);
    EXPECT_EQ(UnscrambleValue(ini.ReadString("Application", "LastChallange", "")), value);
  }
  std::filesystem::remove(path);
}

TEST(ValueScrambler, HandEditedTextGivesEmptyNotGarbage) {
  for (const char *text : {"", "x", "abc", "plain password", "12345"})
    EXPECT_EQ(UnscrambleValue(text), "") << text;
}

}  // namespace
