#include "shared/StubSession.h"

std::string TStubSession::GetUserId() { return UserId; }
void TStubSession::SetUserId(const std::string &userId) { UserId = userId; }
std::string TStubSession::GetPassword() { return Password; }
void TStubSession::SetPassword(const std::string &password) { Password = password; }

void TStubSession::DoLogon(const std::string &userId, const std::string &password, std::string &) {
  if (FOnLoggedOn) FOnLoggedOn(userId, password);
}

void TStubSession::GetInboxList(TBasicMailMsgInfoList &, std::string &) {}
void TStubSession::GetJunkMailList(TBasicMailMsgInfoList &, std::string &) {}
void TStubSession::GetMsg(const std::string &, TStringList &, std::string &, int) {}
void TStubSession::MarkMsgRead(const std::string &, int, std::string &) {}
void TStubSession::DeleteMsgs(const TStringList &, std::string &) {}
bool TStubSession::CheckLoggedOn() { return false; }
void TStubSession::SendMsg(const std::string &, bool, std::string &, int, const TStringList &,
                           const TStringList &, bool) {}
