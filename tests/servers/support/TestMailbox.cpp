#include "servers/support/TestMailbox.h"

#include <thread>

#include "foundation/QuorUtil.h"

namespace {
// Waits the way a network operation does: the loop keeps running.
void WaitPumping(std::chrono::milliseconds duration) {
  auto until = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < until) {
    Yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
}  // namespace

int64_t TTestMailbox::WireSize(const TStringList &lines) {
  int64_t size = 0;
  for (const std::string &line : lines) size += static_cast<int64_t>(line.size()) + 2;
  return size;
}

std::string TTestMailbox::AddMessage(const std::string &uidl, const TStringList &lines, bool isRead,
                                     int64_t size, bool inJunk) {
  TTestMessage msg;
  msg.Uidl = uidl;
  msg.Lines = lines;
  msg.IsRead = isRead;
  msg.InJunk = inJunk;
  msg.Size = size == TTestMessage::kComputeSize ? WireSize(lines) : size;
  if (!FMessages.count(uidl)) FOrder.push_back(uidl);
  FMessages[uidl] = std::move(msg);
  return UrlFor(uidl);
}

std::string TTestMailbox::AddMessageText(const std::string &uidl, const std::string &text) {
  const std::string url = AddMessage(uidl, SplitLines(text), false, int64_t(text.size()));
  FMessages[uidl].Text = text;
  return url;
}

void TTestMailbox::SetFailure(TOperation op, const std::string &error, int failCount) {
  FFailure[op] = error;
  FFailCount[op] = failCount;
}

bool TTestMailbox::Begin(TOperation op, std::string &error) {
  error.clear();
  ++FCalls[op];
  ++FNesting;
  if (FNesting > FMaxNesting) FMaxNesting = FNesting;
  if (FDelay[op].count() > 0) WaitPumping(FDelay[op]);
  if (!FFailure[op].empty() && FFailCount[op] != 0) {
    error = FFailure[op];
    if (FFailCount[op] > 0) --FFailCount[op];
    return false;
  }
  return true;
}

const TTestMessage *TTestMailbox::FindByUrl(const std::string &url) const {
  const std::string prefix = UrlFor("");
  if (url.compare(0, prefix.size(), prefix) != 0) return nullptr;
  auto it = FMessages.find(url.substr(prefix.size()));
  return it == FMessages.end() ? nullptr : &it->second;
}

void TTestMailbox::DoLogon(const std::string &userId, const std::string &password,
                           std::string &error) {
  if (Begin(op_Logon, error)) {
    if (!FExpectedPassword.empty() && password != FExpectedPassword)
      error = "401 Unauthorized";
    else {
      FUserId = userId;
      FPassword = password;
    }
  }
  End();
  if (FOnLoggedOn && error.empty()) FOnLoggedOn(userId, password);
}

void TTestMailbox::List(bool junk, TBasicMailMsgInfoList &list) {
  for (const std::string &uidl : FOrder) {
    auto it = FMessages.find(uidl);
    if (it == FMessages.end() || it->second.InJunk != junk) continue;
    auto info = std::make_unique<TBasicMailMsgInfo>();
    info->Url = UrlFor(uidl);
    info->Uidl = uidl;
    info->IsRead = it->second.IsRead;
    info->Size = it->second.Size;
    list.Add(std::move(info));
  }
}

void TTestMailbox::GetInboxList(TBasicMailMsgInfoList &list, std::string &error) {
  if (Begin(op_Inbox, error) && !ListNothing) List(false, list);
  End();
}

void TTestMailbox::GetJunkMailList(TBasicMailMsgInfoList &list, std::string &error) {
  if (Begin(op_Junk, error) && !ListNothing) List(true, list);
  End();
}

void TTestMailbox::GetMsg(const std::string &url, TStringList &lines, std::string &error,
                          int attempts) {
  FGetMsgAttempts.push_back(attempts);
  if (Begin(op_GetMsg, error)) {
    if (const TTestMessage *msg = FindByUrl(url))
      lines = msg->Lines;
    else
      error = "404 No such message " + url;
  }
  End();
}

void TTestMailbox::GetMsgText(const std::string &url, std::string &text, std::string &error,
                              int attempts) {
  const TTestMessage *msg = FindByUrl(url);
  if (!msg || msg->Text.empty()) {
    TBasicWebMailSession::GetMsgText(url, text, error, attempts);
    return;
  }
  FGetMsgAttempts.push_back(attempts);
  if (Begin(op_GetMsg, error)) text = msg->Text;
  End();
}

void TTestMailbox::MarkMsgRead(const std::string &url, int attempts, std::string &error) {
  (void)attempts;
  if (Begin(op_MarkRead, error)) {
    auto it = FMessages.find(url.substr(UrlFor("").size()));
    if (FindByUrl(url) && it != FMessages.end()) {
      it->second.IsRead = true;
      FMarkedRead.push_back(url);
    } else
      error = "404 No such message " + url;
  }
  End();
}

void TTestMailbox::DeleteMsgs(const TStringList &urls, std::string &error) {
  FDeleteCalls.push_back(urls);
  if (Begin(op_Delete, error)) {
    for (const std::string &url : urls)
      if (FindByUrl(url)) FMessages.erase(url.substr(UrlFor("").size()));
  }
  End();
}

void TTestMailbox::SendMsg(const std::string &mailFrom, bool flag, std::string &error, int attempts,
                           const TStringList &lines, const TStringList &recipients,
                           bool saveInSent) {
  FSendCalls.push_back(TSendMsgCall{mailFrom, flag, attempts, lines, recipients, saveInSent});
  Begin(op_Send, error);
  End();
}
