#pragma once
// The account test: a short POP3 conversation (banner, USER, PASS, STAT,
// QUIT) with the program's own POP3 port, which proves the whole road from
// a mail program to the webmail service. Every step is reported and logged
// as "CHK  nnn - " + text; the outcome is one message for the user.
#include <cstdint>
#include <functional>
#include <string>

class TAccountCheck {
 public:
  // A step's text, for the progress window.
  std::function<void(const std::string &text)> OnStep;
  // A finished log line ("CHK  001 - ...").
  std::function<void(const std::string &line)> OnLog;
  // Read afresh at every wait: set when the program is ending.
  const bool *TerminateFlag = nullptr;
  int32_t TimeoutMs = 15000;

  // Account tests run so far; numbers the log lines.
  int CheckCounter = 0;

  // Whether the user id can be tested at all (it must be a full address).
  static bool UserIdAcceptable(const std::string &userId);
  static std::string NeedFullAddressText();

  // Runs the test against 127.0.0.1:PortText (a text that is no number
  // means 110). Returns the message to show: "Account is accessible!" or
  // the failure. A user id without "@" opens no connection and does not
  // count as a test.
  std::string Run(const std::string &userId, const std::string &password,
                  const std::string &portText);

 private:
  void Step(const std::string &text);
  void LogLine(const std::string &text);
};
