#include "protocol/Pop3Command.h"

#include <cstring>

namespace {
struct TPrefix {
  const char *Text;
  TPop3CommandKind Kind;
};

// Order matters: the first prefix that matches decides.
const TPrefix kPrefixes[] = {
    {"USER ", pc_User}, {"PASS ", pc_Pass}, {"APOP", pc_Apop}, {"QUIT", pc_Quit}, {"STAT", pc_Stat},
    {"LIST", pc_List},  {"RETR", pc_Retr},  {"TOP", pc_Top},   {"DELE", pc_Dele}, {"NOOP", pc_Noop},
    {"LAST", pc_Last},  {"RSET", pc_Rset},  {"AUTH", pc_Auth}, {"UIDL", pc_Uidl},
};
}  // namespace

TPop3Command ParsePop3Command(const std::string &line) {
  TPop3Command cmd;
  std::string trimmed = Trim(line);
  for (const TPrefix &prefix : kPrefixes) {
    if (StartsText(prefix.Text, trimmed)) {
      cmd.Kind = prefix.Kind;
      // The argument starts after the four-letter command (three for TOP),
      // whether or not a blank separates them.
      size_t from = prefix.Kind == pc_Top ? 3 : 4;
      cmd.Arg = trimmed.size() > from ? Trim(std::string_view(trimmed).substr(from)) : "";
      return cmd;
    }
  }
  cmd.Arg = std::move(trimmed);
  return cmd;
}

int Pop3MessageNumber(const std::string &arg) { return StrToIntDef(arg, -1); }

void ParseTopArguments(const std::string &arg, int &msgNo, int &lineCount) {
  size_t blank = arg.find(' ');
  if (blank == std::string::npos) {
    msgNo = StrToIntDef(Trim(arg), -1);
    lineCount = -1;
    return;
  }
  msgNo = StrToIntDef(Trim(std::string_view(arg).substr(0, blank)), -1);
  lineCount = StrToIntDef(Trim(std::string_view(arg).substr(blank + 1)), -1);
}

void StuffForPop3(TStringList &lines) {
  for (std::string &line : lines)
    if (!line.empty() && line[0] == '.') line.insert(line.begin(), '.');
  lines.emplace_back(".");
}

void CutToTop(TStringList &lines, int lineCount) {
  size_t headerEnd = 0;
  while (headerEnd < lines.size() && !lines[headerEnd].empty()) ++headerEnd;
  if (headerEnd >= lines.size()) return;
  size_t keep = headerEnd + 1 + static_cast<size_t>(lineCount < 0 ? 0 : lineCount);
  if (keep < lines.size()) lines.resize(keep);
}

std::string_view TopOfText(std::string_view text, int lineCount) {
  // Lines end where SplitLines ends them: CR LF, a bare LF or a bare CR.
  size_t p = 0;
  auto skipLine = [&] {
    while (p < text.size() && text[p] != '\r' && text[p] != '\n') ++p;
    if (p < text.size() && text[p++] == '\r' && p < text.size() && text[p] == '\n') ++p;
  };
  bool headerEnded = false;
  while (p < text.size() && !headerEnded) {
    headerEnded = text[p] == '\r' || text[p] == '\n';
    skipLine();
  }
  if (!headerEnded) return text;
  for (int i = 0; i < lineCount && p < text.size(); ++i) skipLine();
  return text.substr(0, p);
}
