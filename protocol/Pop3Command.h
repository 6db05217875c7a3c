#pragma once
// The text side of the POP3 gateway, kept free of sockets so that it can be
// fuzzed and tested on its own: command parsing and the shaping of message
// text for the wire.
#include <string>
#include <string_view>

#include "foundation/StrUtil.h"

enum TPop3CommandKind {
  pc_User,
  pc_Pass,
  pc_Apop,
  pc_Quit,
  pc_Stat,
  pc_List,
  pc_Retr,
  pc_Top,
  pc_Dele,
  pc_Noop,
  pc_Last,
  pc_Rset,
  pc_Auth,
  pc_Uidl,
  pc_Unknown,
};

struct TPop3Command {
  TPop3CommandKind Kind = pc_Unknown;
  // In its received letter case; for an unrecognised command, the whole
  // trimmed line.
  std::string Arg;
};

// Prefix matching, first match wins, so "LIST3" is LIST with argument 3 and
// "USER" without a name is not USER at all.
TPop3Command ParsePop3Command(const std::string &line);

// "n k" split at the first blank; each half -1 when missing or not a number.
void ParseTopArguments(const std::string &arg, int &msgNo, int &lineCount);

// Message number of an argument; -1 when it is not a number.
int Pop3MessageNumber(const std::string &arg);

// Dot-stuffs every line starting with "." and appends the terminating "."
// line, in place: a 20 MB message is not copied to be sent.
void StuffForPop3(TStringList &lines);

// Keeps the header, the empty line that ends it and the next LineCount body
// lines. A message without an empty line is all header and is kept whole.
void CutToTop(TStringList &lines, int lineCount);

// The same cut on a message held as one text: the leading part of Text
// whose SplitLines is what CutToTop leaves of SplitLines(Text), the last
// kept line with its line end.
std::string_view TopOfText(std::string_view text, int lineCount);
