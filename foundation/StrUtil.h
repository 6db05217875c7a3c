#pragma once
// Small 8-bit text helpers shared by every layer. Texts are std::string;
// line lists are TStringList; case-insensitive means ASCII case only.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TStringList = std::vector<std::string>;

char UpCaseChar(char c);
char LowCaseChar(char c);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// Case-insensitive equality and ordering (<0, 0, >0).
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);
bool EndsText(std::string_view suffix, std::string_view s);
// 0-based position of needle in hay ignoring case; std::string::npos when absent.
size_t FindText(std::string_view hay, std::string_view needle, size_t from = 0);
bool ContainsText(std::string_view hay, std::string_view needle);

// Trimming removes every byte <= ' ' (control characters and blanks).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Whole-text integer conversions; StrToIntDef accepts an optional sign and
// surrounding blanks, and gives the default on anything else or on overflow.
int64_t StrToInt64Def(std::string_view s, int64_t def);
int StrToIntDef(std::string_view s, int def);
bool TryStrToInt(std::string_view s, int &value);

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
std::string ReplaceAllText(std::string_view s, std::string_view from, std::string_view to);

// Splits at CR LF, lone CR or lone LF. A final line end does not produce an
// empty last line.
TStringList SplitLines(std::string_view text);
// Joins with CR LF after every line (the wire form of a line list).
std::string JoinLines(const TStringList &lines, std::string_view eol = "\r\n");
