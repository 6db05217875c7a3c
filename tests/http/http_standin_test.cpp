// The exchange against the stand-in webmail service, a separate Python
// process: Digest with its own server-side check, its session cookie, and
// 207 answers as the service writes them.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "BuildConfig.h"
#include "http/HttpRequest.h"
#include "mail/Rfc822Date.h"

extern char **environ;

namespace {

class HttpStandin : public ::testing::Test {
 protected:
  void SetUp() override {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string script = std::string(BRELVANE_SOURCE_DIR) + "/testing/standin/standin.py";
    const char *argv[] = {"python3", script.c_str(), "--max-seconds", "60", nullptr};
    const int rc =
        posix_spawnp(&FPid, "python3", &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    ASSERT_EQ(rc, 0);
    // The first line says where it listens.
    std::string first;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (first.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char buf[256];
      const ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      first.append(buf, size_t(n));
    }
    close(out[0]);
    ASSERT_EQ(first.rfind("PORT ", 0), 0u) << first;
    FPort = std::stoi(first.substr(5));
    SetServiceBaseOverride("http://127.0.0.1:" + std::to_string(FPort));
  }

  void TearDown() override {
    SetServiceBaseOverride("");
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
  }

  void Perform(THttpRequest &request) {
    response.Clear();
    error.clear();
    request.PerformRequest(response, &jar, error, Now() + SecondsToDays(30));
  }

  int Status() {
    int code = -1;
    return response.GetStatusCode(code) ? code : -1;
  }

  static std::string Element(const TStringList &body, const std::string &name) {
    const std::string text = JoinLines(body);
    const size_t open = text.find("<" + name + ">");
    if (open == std::string::npos) return std::string();
    const size_t start = open + name.size() + 2;
    return text.substr(start, text.find("</" + name + ">", start) - start);
  }

  pid_t FPid = -1;
  int FPort = 0;
  THttpResponse response;
  THttpCookieList jar;
  std::string error;
};

TEST_F(HttpStandin, DigestLogonThenFolderListingOnTheSameDigestState) {
  THttpRequest request;
  request.UserId = "demo@hotmail.com";
  request.Password = "demo-pass";
  request.BuildLogonRequest(HttpMailEndpointFor(request.UserId));
  Perform(request);
  EXPECT_EQ(error, "");
  ASSERT_EQ(Status(), 207) << JoinLines(response.Lines());
  const std::string root = Element(response.GetBody(), "hm:msgfolderroot");
  ASSERT_EQ(root.rfind("http://127.0.0.1:" + std::to_string(FPort) + "/", 0), 0u) << root;
  EXPECT_FALSE(Element(response.GetBody(), "hm:sendmsg").empty());
  EXPECT_GE(jar.Count(), 1);
  EXPECT_EQ(request.NonceCount, 1);

  request.Clear();
  request.Add("PROPFIND blah0 HTTP/1.1");
  request.Add("Depth: 0");
  request.Add("Content-Type: text/xml");
  request.Add("Host: blah1");
  request.Add("Content-Length: 343");
  request.Add("");
  request.Add("<?xml version=\"1.0\"?>");
  request.Add("<D:propfind xmlns:D=\"DAV:\" xmlns:hm=\"urn:schemas:httpmail:\">");
  request.Add("\t<D:prop><hm:special/></D:prop>");
  request.Add("</D:propfind>");
  request.SetUrl(root);
  Perform(request);
  EXPECT_EQ(error, "");
  ASSERT_EQ(Status(), 207) << JoinLines(response.Lines());
  EXPECT_NE(JoinLines(response.GetBody()).find("inbox"), std::string::npos);
  // Answered straight from the remembered challenge with the next count; a
  // second 401 round would have drawn a new client nonce and restarted it.
  EXPECT_EQ(request.NonceCount, 2);
}

TEST_F(HttpStandin, WrongPasswordEndsWithTheServices401) {
  THttpRequest request;
  request.UserId = "demo@hotmail.com";
  request.Password = "not-the-password";
  request.BuildLogonRequest(HttpMailEndpointFor(request.UserId));
  Perform(request);
  EXPECT_EQ(error, "");
  EXPECT_EQ(Status(), 401);
  std::string reason;
  EXPECT_TRUE(response.GetHeader("X-Dav-Error", reason));
  EXPECT_EQ(request.AuthAttempts, 0);
}

}  // namespace
