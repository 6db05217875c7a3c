// PerformRequest against a scripted peer on a loopback port.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "BuildConfig.h"
#include "foundation/QuorUtil.h"
#include "http/HttpRequest.h"
#include "http/Md5.h"
#include "mail/Rfc822Date.h"
#include "shared/TestFiles.h"
#include "support/TestHttpPeer.h"

namespace {

std::string Answer(const std::string &status, const std::string &headers,
                   const std::string &body = std::string(), bool withLength = true) {
  std::string text = "HTTP/1.1 " + status + "\r\n" + headers;
  if (withLength) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

std::string FirstLine(const std::string &request) {
  return request.substr(0, request.find("\r\n"));
}

class HttpExchange : public ::testing::Test {
 protected:
  void TearDown() override { SetHttpHostLookup(nullptr); }

  // A PROPFIND template with placeholders, as the HTTPMail session builds
  // them, aimed at the peer.
  void Aim(int port, const std::string &path = "/svc", const std::string &method = "PROPFIND") {
    request.Clear();
    request.Add(method + " blah0 HTTP/1.1");
    request.Add("Host: blah1");
    request.Add("Content-Length: blah");
    request.Add("");
    request.Add(std::string(10, 'a'));
    request.Add(std::string(20, 'b'));
    request.SetUrl("http://127.0.0.1:" + std::to_string(port) + path);
  }

  void Perform(int seconds = 10) {
    response.Clear();
    error.clear();
    request.PerformRequest(response, &jar, error, Now() + MsToDays(seconds * 1000.0));
  }

  int Status() {
    int code = -1;
    return response.GetStatusCode(code) ? code : -1;
  }

  THttpRequest request;
  THttpResponse response;
  THttpCookieList jar;
  std::string error;
};

TEST_F(HttpExchange, SendsFixedUpRequestAndReadsLengthDelimitedBodyArrivingInPieces) {
  TTestHttpPeer peer([](TPeerConnection &c, int index) {
    c.ReadRequest();
    const std::string body = "<a>\r\nSet-Cookie: evil=1; domain=127.0.0.1; path=/\r\nlast";
    const std::string answer = Answer("207 Multi-Status",
                                      "Set-Cookie: s=1; domain=127.0.0.1; path=/\r\n"
                                      "set-cookie: bad=1; path=/\r\nX-Index: " +
                                          std::to_string(index) + "\r\n",
                                      body);
    c.Send(answer.substr(0, 20));
    c.Pause(60);
    c.Send(answer.substr(20, answer.size() - 30));
    c.Pause(60);
    c.Send(answer.substr(answer.size() - 10));
    c.ClientClosed(3000);  // kept open: the length alone must end the body
  });
  Aim(peer.Port());
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(Status(), 207);
  EXPECT_EQ(response.GetBody(),
            (TStringList{"<a>", "Set-Cookie: evil=1; domain=127.0.0.1; path=/", "last"}));
  EXPECT_EQ(request.DnsResult, dns_NoError);
  EXPECT_EQ(request.ConnectResult, cr_Connected);
  EXPECT_GT(response.ReceivedAt, 0);

  ASSERT_EQ(peer.Requests().size(), 1u);
  const std::string sent = peer.Requests()[0];
  EXPECT_EQ(FirstLine(sent), "PROPFIND /svc HTTP/1.1");
  EXPECT_EQ(PeerHeader(sent, "Content-Length"), "34");
  EXPECT_EQ(PeerHeader(sent, "host"), "127.0.0.1");
  EXPECT_EQ(PeerHeader(sent, "port"), std::to_string(peer.Port()));
  EXPECT_EQ(PeerHeader(sent, "Cookie"), "");
  EXPECT_NE(sent.find("\r\n\r\n" + std::string(10, 'a') + "\r\n" + std::string(20, 'b') + "\r\n"),
            std::string::npos);

  // Only the header's cookie with a domain was kept; the body's line is text.
  ASSERT_EQ(jar.Count(), 1);
  EXPECT_EQ(jar[0].Name, "s");
}

TEST_F(HttpExchange, SendsCookiesAndAnswersContinueWithTheRealAnswer) {
  TTestHttpPeer peer([](TPeerConnection &c, int) {
    c.ReadRequest();
    c.Send("\r\nHTTP/1.1 100 Continue\r\nX-Early: 1\r\n\r\n");
    c.Pause(50);
    c.Send(Answer("207 Multi-Status", "X-Late: 2\r\n", "body"));
  });
  auto cookie = std::make_unique<THttpCookie>();
  ASSERT_TRUE(cookie->Parse("k=v; domain=127.0.0.1; path=/svc"));
  jar.Add(std::move(cookie));
  Aim(peer.Port());
  request.SetHeader("Host", "Blah3");  // a template placeholder: DefaultHost is used
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(Status(), 207);
  std::string v;
  EXPECT_FALSE(response.GetHeader("X-Early", v));
  EXPECT_TRUE(response.GetHeader("X-Late", v));
  EXPECT_EQ(response.GetBody(), TStringList{"body"});
  EXPECT_EQ(PeerHeader(peer.Requests().at(0), "Cookie"), "k=v");
  EXPECT_EQ(PeerHeader(peer.Requests().at(0), "Host"), "127.0.0.1");
}

TEST_F(HttpExchange, MultistatusWithoutLengthIsReadUntilThePeerGoesQuietOrCloses) {
  TTestHttpPeer peer([](TPeerConnection &c, int index) {
    c.ReadRequest();
    c.Send(Answer("207 Multi-Status", "", "", false));
    c.Send("<part1/>\r\n");
    c.Pause(150);  // a gap between segments is not the end of the answer
    c.Send("<part2/>\r\n");
    if (index == 1) c.ClientClosed(3000);  // kept open: only the quiet ends it
  });
  Aim(peer.Port());
  for (int i = 0; i < 2; ++i) {
    Perform();
    EXPECT_EQ(error, "") << i;
    EXPECT_EQ(response.GetBody(), (TStringList{"<part1/>", "<part2/>"})) << i;
  }
}

TEST_F(HttpExchange, ChunkedBodyArrivingInPiecesIsJoinedAndKeptAsSent) {
  // Chunks of a message larger than one read, cut across reads anywhere.
  std::string body;
  for (int i = 0; body.size() < 300000; ++i) body += "line " + std::to_string(i) + "\r\n";
  body += "no final line end";
  std::string wire;
  for (size_t at = 0, size = 1; at < body.size(); at += size, size = size * 3 + 1) {
    const std::string chunk = body.substr(at, size);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%zx", chunk.size());
    wire += std::string(hex) + "\r\n" + chunk + "\r\n";
  }
  wire += "0\r\n\r\n";
  TTestHttpPeer peer([&wire](TPeerConnection &c, int index) {
    c.ReadRequest();
    // The length beside a chunked coding is void; the second answer's
    // connection goes before its last chunk.
    c.Send(Answer("200 OK", "Transfer-Encoding: chunked\r\nContent-Length: 3\r\n", "", false));
    const std::string sent = index == 0 ? wire : wire.substr(0, wire.size() - 20);
    for (size_t at = 0; at < sent.size(); at += 70001) {
      c.Send(std::string_view(sent).substr(at, 70001));
      c.Pause(5);
    }
  });
  Aim(peer.Port(), "/svc", "GET");
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(Status(), 200);
  EXPECT_EQ(response.TakeBodyText(), body);
  Perform();
  EXPECT_EQ(error, "Connection dropped while reading body");
}

TEST_F(HttpExchange, BadChunkFramingEndsTheExchangeWithAnError) {
  TTestHttpPeer peer([](TPeerConnection &c, int) {
    c.ReadRequest();
    c.Send(Answer("200 OK", "Transfer-Encoding: chunked\r\n", "", false));
    c.Send("4\r\nabcdefgh\r\n0\r\n\r\n");
    c.ClientClosed(2000);
  });
  Aim(peer.Port(), "/svc", "GET");
  Perform();
  EXPECT_EQ(error, "Bad chunked body: Chunk data longer than its size");
}

TEST_F(HttpExchange, AnswerWithoutLengthOtherThanMultistatusHasNoBody) {
  TTestHttpPeer peer([](TPeerConnection &c, int) {
    c.ReadRequest();
    c.Send(Answer("200 OK", "", "ignored\r\n", false));
    c.ClientClosed(2000);
  });
  Aim(peer.Port());
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(Status(), 200);
  EXPECT_TRUE(response.GetBody().empty());
}

TEST_F(HttpExchange, RedirectKeepsMethodHeadersAndBody) {
  TTestHttpPeer peer([](TPeerConnection &c, int index) {
    c.ReadRequest();
    if (index == 0)
      c.Send(Answer("302 Moved", "Location: http://127.0.0.1:" +
                                     std::string(std::getenv("HTTP_PEER_PORT")) + "/next\r\n"));
    else
      c.Send(Answer("207 Multi-Status", "", "done"));
  });
  setenv("HTTP_PEER_PORT", std::to_string(peer.Port()).c_str(), 1);
  Aim(peer.Port());
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(response.GetBody(), TStringList{"done"});
  const auto sent = peer.Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(FirstLine(sent[1]), "PROPFIND /next HTTP/1.1");
  EXPECT_EQ(PeerHeader(sent[1], "Content-Length"), "34");
  EXPECT_EQ(request.RedirectDepth, 0);
}

TEST_F(HttpExchange, RedirectFailures) {
  {
    TTestHttpPeer peer([](TPeerConnection &c, int) {
      c.ReadRequest();
      c.Send(Answer("302 Found", ""));
    });
    Aim(peer.Port());
    Perform();
    EXPECT_EQ(error, "Server is too busy. (302 no Location tag)");
    EXPECT_EQ(peer.Connections(), 1);
  }
  {
    TTestHttpPeer peer([](TPeerConnection &c, int) {
      c.ReadRequest();
      c.Send(Answer("302 Found", "Location: /again\r\n"));  // relative: same host and port
    });
    Aim(peer.Port());
    Perform(30);
    EXPECT_EQ(error, "Retry count exceeded 15");
    EXPECT_EQ(peer.Connections(), 16);
    EXPECT_EQ(request.RedirectDepth, 0);
  }
}

TEST_F(HttpExchange, DroppedConnections) {
  {
    // Mid-body.
    TTestHttpPeer peer([](TPeerConnection &c, int) {
      c.ReadRequest();
      c.Send("HTTP/1.1 207 Multi-Status\r\nContent-Length: 100\r\n\r\n0123456789");
    });
    Aim(peer.Port());
    Perform();
    EXPECT_EQ(error, "Connection dropped while reading body");
    EXPECT_EQ(peer.Connections(), 1);
  }
  {
    // Before any answer: the exchange is repeated, and the failure text of
    // the first attempt stays for the caller to weigh against the status.
    TTestHttpPeer peer([](TPeerConnection &c, int index) {
      c.ReadRequest();
      if (index > 0) c.Send(Answer("207 Multi-Status", "", "ok"));
    });
    Aim(peer.Port());
    Perform();
    EXPECT_EQ(error, "Disconnected while reading header.");
    EXPECT_EQ(Status(), 207);
    EXPECT_EQ(response.GetBody(), TStringList{"ok"});
    EXPECT_EQ(peer.Connections(), 2);
  }
  {
    // The body closes with the connection exactly at its length.
    TTestHttpPeer peer([](TPeerConnection &c, int) {
      c.ReadRequest();
      c.Send(Answer("207 Multi-Status", "Connection: close\r\n", std::string(5000, 'z')));
    });
    Aim(peer.Port());
    Perform();
    EXPECT_EQ(error, "");
    EXPECT_EQ(response.GetBody(), TStringList{std::string(5000, 'z')});
  }
}

TEST_F(HttpExchange, DeadlinesWhileWaitingForHeaderOrBody) {
  for (bool sendHeader : {false, true}) {
    TTestHttpPeer peer([sendHeader](TPeerConnection &c, int) {
      c.ReadRequest();
      if (sendHeader) c.Send("HTTP/1.1 207 Multi-Status\r\nContent-Length: 10\r\n\r\n");
      c.ClientClosed(3000);
    });
    Aim(peer.Port());
    Perform(1);
    EXPECT_EQ(error, sendHeader ? "Timed out while reading body" : "Timed out reading header");
  }
}

std::string DigestChallenge(const std::string &nonce) {
  return "WWW-Authenticate: Digest realm=\"svc\", nonce=\"" + nonce + "\", qop=\"auth\"\r\n";
}

// What the service expects: the digest of a PROPFIND whatever the method.
bool DigestValid(const std::string &request, const std::string &user, const std::string &password) {
  std::map<std::string, std::string> items;
  for (auto &[k, v] : PeerDigestItems(PeerHeader(request, "Authorization"))) items[k] = v;
  if (items["username"] != user) return false;
  const std::string ha1 = Md5Hex(user + ":" + items["realm"] + ":" + password);
  const std::string ha2 = Md5Hex("PROPFIND:" + items["uri"]);
  return items["response"] == Md5Hex(ha1 + ":" + items["nonce"] + ":" + items["nc"] + ":" +
                                     items["cnonce"] + ":" + items["qop"] + ":" + ha2);
}

TEST_F(HttpExchange, DigestChallengeIsAnsweredAndRememberedForTheNextRequest) {
  const std::string user = std::string("joe@") + BRELVANE_DEFAULT_MAIL_DOMAIN;
  TTestHttpPeer peer([&](TPeerConnection &c, int) {
    const std::string r = c.ReadRequest();
    if (PeerHeader(r, "Authorization").empty())
      c.Send(Answer("401 Unauthorized", DigestChallenge("n1")));
    else if (DigestValid(r, user, "secret"))
      c.Send(Answer("207 Multi-Status", "", "in"));
    else
      c.Send(Answer("401 Unauthorized", DigestChallenge("n2")));
  });
  request.UserId = "joe";
  request.Password = "secret";
  Aim(peer.Port(), "/svc", "GET");
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(Status(), 207);
  ASSERT_EQ(peer.Requests().size(), 2u);
  EXPECT_NE(PeerHeader(peer.Requests()[1], "Authorization").find("nc=00000001"), std::string::npos);
  EXPECT_EQ(request.AuthAttempts, 0);

  // The next request answers the remembered challenge straight away.
  Aim(peer.Port(), "/other", "GET");
  Perform();
  EXPECT_EQ(Status(), 207);
  ASSERT_EQ(peer.Requests().size(), 3u);
  EXPECT_NE(PeerHeader(peer.Requests()[2], "Authorization").find("nc=00000002"), std::string::npos);
  EXPECT_TRUE(DigestValid(peer.Requests()[2], user, "secret"));
}

TEST_F(HttpExchange, RejectedPasswordEndsWithThe401AndNoErrorText) {
  {
    TTestHttpPeer peer([](TPeerConnection &c, int) {
      c.ReadRequest();
      c.Send(Answer("401 Unauthorized", DigestChallenge("n")));
    });
    request.UserId = "joe@x.example";
    request.Password = "wrong";
    Aim(peer.Port());
    Perform();
    EXPECT_EQ(error, "");
    EXPECT_EQ(Status(), 401);
    EXPECT_EQ(peer.Connections(), 2);
    EXPECT_EQ(request.AuthAttempts, 0);
    EXPECT_EQ(
        PeerHeader(peer.Requests()[1], "Authorization").find("Digest username=\"joe@x.example\""),
        0u);
  }
  {
    TTestHttpPeer peer([](TPeerConnection &c, int) {
      c.ReadRequest();
      c.Send(Answer("401 Bad Password", DigestChallenge("n")));
    });
    request.Challenge.clear();
    Aim(peer.Port());
    Perform();
    EXPECT_EQ(Status(), 401);
    EXPECT_EQ(peer.Connections(), 1);
  }
}

TEST_F(HttpExchange, HostLookupOutcomes) {
  TTestHttpPeer peer([](TPeerConnection &c, int) {
    c.ReadRequest();
    c.Send(Answer("207 Multi-Status", "", "x"));
  });
  auto aimAtName = [&](const std::string &host) {
    Aim(peer.Port());
    request.SetUrl("http://" + host + ":" + std::to_string(peer.Port()) + "/svc");
  };
  SetHttpHostLookup([](const std::string &, int, uint32_t &) { return dns_Timeout; });
  aimAtName("mail.example");
  Perform();
  EXPECT_EQ(error, "Host lookup failed with:dns_Timeout");
  EXPECT_EQ(request.DnsResult, dns_Timeout);

  SetHttpHostLookup([](const std::string &, int, uint32_t &a) {
    a = 0;
    return dns_NoError;
  });
  Perform();
  EXPECT_EQ(error, "Host lookup failed. Host \"mail.example\" doesnt exist");
  EXPECT_EQ(request.DnsResult, dns_NoError);
  EXPECT_EQ(request.ConnectResult, cr_NoAddress);

  SetHttpHostLookup(
      [](const std::string &, int, uint32_t &) -> TDNSResult { throw std::runtime_error("boom"); });
  Perform();
  EXPECT_EQ(error, "Excepted looking up host with:boom");
  EXPECT_EQ(request.DnsResult, dns_InternalError);
  EXPECT_EQ(peer.Connections(), 0);

  // The real lookup of a name the hosts file knows.
  SetHttpHostLookup(nullptr);
  aimAtName("localhost");
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(request.DnsResult, dns_NoError);
  EXPECT_EQ(response.GetBody(), TStringList{"x"});
}

TEST_F(HttpExchange, NoStatusWhenNothingCouldBeSent) {
  int closedPort;
  {
    TTestHttpPeer gone([](TPeerConnection &, int) {});
    closedPort = gone.Port();
  }
  Aim(closedPort);
  request.ConnectRetries = 2;
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(Status(), -1);
  EXPECT_EQ(request.ConnectResult, cr_ConnectFailed);

  TTestHttpPeer peer([](TPeerConnection &c, int) { c.ReadRequest(); });
  bool cancel = true;
  request.CancelFlag = &cancel;
  Aim(peer.Port());
  Perform();
  EXPECT_EQ(error, "");
  EXPECT_EQ(Status(), -1);
  EXPECT_EQ(peer.Connections(), 0);
}

TEST_F(HttpExchange, DeveloperTraceRecordsTheConversation) {
  const auto home =
      std::filesystem::temp_directory_path() / ("brelvane-http-trace-" + RandomText(8));
  SetProgramFolder(home.string());
  SetDeveloperMode(true);
  TTestHttpPeer peer([](TPeerConnection &c, int) {
    c.ReadRequest();
    c.Send(Answer("207 Multi-Status", "X-Seen: yes\r\n", "traced body"));
  });
  Aim(peer.Port());
  request.UserId = "joe";
  Perform();
  SetDeveloperMode(false);
  SetProgramFolder("");
  std::string trace;
  namespace fs = std::filesystem;
  // The trace holds what went over the wire, passwords included: this
  // user's alone.
  EXPECT_EQ(fs::status(home / "Debug").permissions() & fs::perms::all, fs::perms::owner_all);
  for (auto &entry : std::filesystem::recursive_directory_iterator(home / "Debug"))
    if (entry.is_regular_file()) {
      EXPECT_EQ(entry.status().permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write)
          << entry.path();
      trace += ReadFileText(entry.path());
    }
  std::filesystem::remove_all(home);
  for (const char *expected :
       {"CONNECTING", "UserId = joe", "PROPFIND /svc HTTP/1.1", "X-Seen: yes", "traced body",
        "^^^^^^^^^^^^^^^^^^^^^^^^^^ RECEIVING ^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^"})
    EXPECT_NE(trace.find(expected), std::string::npos) << expected;
}

}  // namespace

namespace {

// A step of the wall clock (daylight saving, a clock set by hand) during an
// exchange changes nothing: the time limits run on the monotonic clock.
TEST_F(HttpExchange, WallClockStepsNeitherEndNorStretchAnExchange) {
  for (const double step : {1.0 / 24, -1.0 / 24}) {
    TTestHttpPeer peer([step](TPeerConnection &c, int) {
      c.ReadRequest();
      SetWallClockShift(step);  // an hour forward (or back) while the answer is awaited
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      c.Send(Answer("207 Multi-Status", "", "late but fine"));
    });
    Aim(peer.Port());
    const auto start = std::chrono::steady_clock::now();
    Perform(5);
    SetWallClockShift(0);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(Status(), 207);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  }
  // A stalled peer is given up on after the limit, not an hour later.
  TTestHttpPeer stalled([](TPeerConnection &c, int) {
    c.ReadRequest();
    SetWallClockShift(-1.0 / 24);
    std::this_thread::sleep_for(std::chrono::milliseconds(6000));
  });
  Aim(stalled.Port());
  request.Timeout = 2;
  response.Clear();
  error.clear();
  const auto start = std::chrono::steady_clock::now();
  request.PerformRequest(response, &jar, error);
  SetWallClockShift(0);
  EXPECT_FALSE(error.empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5500));
}

TEST(HttpDeadline, StretchesOnlyWhenTheMeasuredSpeedSaysItIsTooShort) {
  const double soon = Now() + MsToDays(1000);
  double deadline = soon;
  StretchDeadline(deadline, 1000, 0, 2000);
  StretchDeadline(deadline, 1000, 1000, 0);
  StretchDeadline(deadline, -1, 1000, 2000);
  EXPECT_EQ(deadline, soon);

  // 1000 bytes took 2000 ms: 1000 more are given 3000 ms from now.
  StretchDeadline(deadline, 1000, 1000, 2000);
  EXPECT_NEAR(DaysToMs(deadline - Now()), 3000, 200);

  const double later = Now() + MsToDays(10000);
  deadline = later;
  StretchDeadline(deadline, 1000, 1000, 2000);
  EXPECT_EQ(deadline, later);

  // Large figures must not wrap: 4 GB at 1 byte/ms is a long wait, not a short one.
  deadline = soon;
  StretchDeadline(deadline, 4000000000LL, 4000000000u, 4000000000u);
  EXPECT_GT(DaysToMs(deadline - Now()), 5.0e9);
}

}  // namespace

namespace {

// The hard stop is raised from the yield hook, which the connection calls on
// the main thread while it waits, once the peer says it got that far.
std::atomic<int> gPeerStage{0};
int gStopAtStage = 0;
bool gTerminate = false;
void RaiseTerminateAtStage() {
  if (gPeerStage.load() >= gStopAtStage) gTerminate = true;
}

TEST_F(HttpExchange, TerminateWhileWaitingForHeaderOrBody) {
  SetMainThread();
  SetYieldHook(&RaiseTerminateAtStage);
  for (int stage : {1, 2}) {
    gPeerStage = 0;
    gStopAtStage = stage;
    gTerminate = false;
    TTestHttpPeer peer([](TPeerConnection &c, int) {
      c.ReadRequest();
      gPeerStage = 1;
      c.Pause(100);
      c.Send("HTTP/1.1 207 Multi-Status\r\nContent-Length: 50\r\n\r\npartial");
      c.Pause(100);
      gPeerStage = 2;
      c.ClientClosed(3000);
    });
    request.TerminateFlag = &gTerminate;
    Aim(peer.Port());
    gTerminate = false;
    Perform();
    EXPECT_EQ(error,
              stage == 1 ? "Terminated while reading header" : "Terminated while reading body");
  }
  SetYieldHook(nullptr);
  request.TerminateFlag = nullptr;
}

TEST_F(HttpExchange, ChallengesThatCannotBeAnswered) {
  TTestHttpPeer peer([](TPeerConnection &c, int) {
    c.ReadRequest();
    c.Send(Answer("401 Unauthorized", "WWW-Authenticate: Digest realm=\"r\"\r\n"));
  });
  Aim(peer.Port());
  Perform();
  EXPECT_EQ(error,
            "ComputeAuthorization failed with:Nonce value could not be read from server "
            "challange.  qop value could not be read from server challange.");
  EXPECT_EQ(peer.Connections(), 1);

  // A remembered challenge needs a uri to answer.
  request.Challenge = "Digest realm=\"r\", nonce=\"n\", qop=\"auth\"";
  request.Lines() = {"GET", "host: 127.0.0.1", "port: " + std::to_string(peer.Port()), ""};
  Perform();
  EXPECT_EQ(error, "Was asked to authenticate but couldn't find Uri");
  EXPECT_EQ(peer.Connections(), 1);
}

}  // namespace
