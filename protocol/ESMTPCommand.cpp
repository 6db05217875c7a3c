#include "protocol/ESMTPCommand.h"

#include "foundation/StrUtil.h"

TESMTPCommand ParseESMTPLine(uint8_t state, const std::string &line, std::string &arg) {
  if (state == ss_Data) {
    arg = line;
    return line == "." ? sc_EndOfText : sc_TextLine;
  }
  std::string trimmed = Trim(line);
  arg = trimmed;
  if (state == ss_AwaitPassword) return sc_Password;
  if (state == ss_AwaitUserName) return sc_UserName;
  // Order matters: the first prefix that matches wins.
  static const struct {
    std::string_view prefix;
    TESMTPCommand command;
  } kCommands[] = {
      {"HELO ", sc_Helo},
      {"MAIL FROM:", sc_MailFrom},
      {"RCPT TO:", sc_RcptTo},
      {"QUIT", sc_Quit},
      {"DATA", sc_Data},
      {"NOOP", sc_Noop},
      {"EHLO", sc_Ehlo},
      {"AUTH=LOGIN", sc_AuthEquals},
      {"AUTH LOGIN", sc_AuthLogin},
      {"HELP", sc_Help},
      {"RSET", sc_Rset},
      {"XEXCH50", sc_NotImplemented},
      {"ETRN", sc_NotImplemented},
      {"DSN", sc_NotImplemented},
      {"TURN", sc_NotImplemented},
      {"SIZE", sc_NotImplemented},
      {"VRFY", sc_NotImplemented},
      {"ONEX", sc_NotImplemented},
      {"XUSR", sc_NotImplemented},
  };
  for (const auto &c : kCommands) {
    if (StartsText(c.prefix, trimmed)) {
      arg = Trim(std::string_view(trimmed).substr(c.prefix.size()));
      return c.command;
    }
  }
  return sc_Unknown;
}
