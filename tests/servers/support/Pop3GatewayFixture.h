#pragma once
// The POP3 gateway with the in-memory mailbox behind it, a download record
// in a folder of its own, and its log and session requests recorded; the
// socket tests and the scripted tests differ only in how clients reach it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/QuorUtil.h"
#include "servers/Pop3HotmailServer.h"
#include "support/LoopbackClient.h"
#include "support/ServerTestKit.h"
#include "support/TestMailbox.h"

class TPop3GatewayFixture : public testing::Test {
 protected:
  static constexpr const char *kBanner = "+OK Welcome to Brelvane POP gateway";

  // Listening on a loopback port of its own (Port), or, without Listen,
  // reached only through Adopt.
  void StartGateway(const std::string &folderPrefix, bool listen) {
    FDir = std::filesystem::temp_directory_path() / (folderPrefix + RandomText(10));
    std::filesystem::create_directories(FDir);
    SetProgramFolder(FDir.string());
    TPop3HotmailServer::ResetTimeOutNotice();
    SetNotifier(&FNotifier);
    Server = std::make_unique<TPop3HotmailServer>();
    Server->SetBanner(kBanner);
    Server->SetDownloadRecordPath((FDir / "record.sqlite").string());
    Server->OnNeedSession = [this](const std::string &userId,
                                   const std::string &password) -> TBasicWebMailSession * {
      NeedSessionCalls.emplace_back(userId, password);
      return RefuseSession ? nullptr : &Mailbox;
    };
    Server->SetOnLog([this](TQuorServer *, TQuorServerSpawnedSocket *, const std::string &text,
                            uint8_t detail, bool error) {
      Logs.push_back({text, detail, error});
      return false;  // nothing into the diagnostic files
    });
    if (!listen) return;
    Server->SetListenAddress("127.0.0.1");
    Server->SetPort(0);
    Server->SetActive(true);
    Port = Server->BoundPort();
  }

  void TearDown() override {
    Server.reset();
    SetNotifier(nullptr);
    SetProgramFolder("");
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }

  void WaitGone() {
    EXPECT_TRUE(PumpUntil([this] { return Server->ActiveConnections() == 0; }, 10000));
  }

  bool Logged(const std::string &text, int detail = -1) const {
    for (const auto &l : Logs)
      if (l.Text == text && (detail < 0 || l.Detail == detail)) return true;
    return false;
  }

  int Record(const std::string &uid, const std::string &user = "jdoe@hotmail.com") {
    return Server->DownloadRecord().ReadEntry(TDownloadRecord::SectionFor(user), uid, -7);
  }

  struct TLogLine {
    std::string Text;
    int Detail;
    bool Error;
  };

  TTestMailbox Mailbox;  // outlives the server: connections log off in their clean-up
  TRecordingNotifier FNotifier;
  std::unique_ptr<TPop3HotmailServer> Server;
  int Port = 0;
  bool RefuseSession = false;
  std::vector<std::pair<std::string, std::string>> NeedSessionCalls;
  std::vector<TLogLine> Logs;
  std::filesystem::path FDir;
};
