#pragma once
// Reading one line of an SMTP conversation: which command it is, and its
// argument. Kept apart from the connection so that it runs without sockets.
#include <cstdint>
#include <string>

// Conversation states of an SMTP connection.
enum : uint8_t {
  ss_BeforeBanner = 0,
  ss_BannerSent = 1,
  ss_Greeted = 2,  // after HELO, EHLO, RSET or a failed AUTH
  ss_AwaitPassword = 3,
  ss_AwaitUserName = 4,
  ss_Authenticated = 5,  // or a message finished
  ss_MailFrom = 6,
  ss_RcptTo = 7,
  ss_Data = 8,  // receiving message text
};

enum TESMTPCommand {
  sc_Helo,
  sc_MailFrom,
  sc_RcptTo,
  sc_Quit,
  sc_Data,
  sc_Noop,
  sc_Ehlo,
  sc_AuthEquals,
  sc_AuthLogin,
  sc_Help,
  sc_Rset,
  sc_NotImplemented,
  sc_Unknown,
  sc_Password,
  sc_UserName,
  sc_TextLine,
  sc_EndOfText,
};

// In the text state the line is message text ("." alone ends it), taken
// unchanged. Otherwise the line is trimmed; while AUTH waits it is the
// password or user name; else the first matching command prefix (any case)
// decides, and Arg is the trimmed rest. Unknown lines give the trimmed line.
TESMTPCommand ParseESMTPLine(uint8_t state, const std::string &line, std::string &arg);
