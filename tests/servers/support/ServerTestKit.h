#pragma once
// Pieces the socket tests and the scripted tests of both gateways share.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "foundation/StrUtil.h"
#include "sessions/Notifier.h"

// Keeps what the gateway would have shown the user.
class TRecordingNotifier : public TNotifier {
 public:
  void ShowMessage(const std::string &title, const std::string &text) override {
    Shown.emplace_back(title, text);
  }
  std::vector<std::pair<std::string, std::string>> Shown;
};

// A small message with the given subject and body lines.
inline TStringList Msg(const std::string &subject, const TStringList &body) {
  TStringList lines = {"From: a@example.com", "Subject: " + subject, ""};
  lines.insert(lines.end(), body.begin(), body.end());
  return lines;
}

// Sends Request (CR LF added) and returns the SMTP reply's lines up to the
// last one (the one without "-" after the code). Any client with Send and
// ReadLine: a socket or a scripted conversation.
template <class TClient>
TStringList SmtpReply(TClient &client, const std::string &request) {
  TStringList reply;
  EXPECT_TRUE(client.Send(request + "\r\n"));
  std::string line;
  while (client.ReadLine(line)) {
    reply.push_back(line);
    if (line.size() < 4 || line[3] != '-') break;
  }
  return reply;
}

// The last line of the reply, or "<nothing>".
template <class TClient>
std::string SmtpLastLine(TClient &client, const std::string &request) {
  TStringList reply = SmtpReply(client, request);
  return reply.empty() ? "<nothing>" : reply.back();
}
