#include <gtest/gtest.h>

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"

namespace {

TStringList Of(const THttpCommunication &c) { return c.Lines(); }

void Template(THttpRequest &r) {
  r.Add("PROPFIND blah0 HTTP/1.1");
  r.Add("Depth: 0");
  r.Add("Host: blah1");
  r.Add("Content-Length: 343");
  r.Add("");
  r.Add("X-Body: not a header");
}

TEST(HttpHeaders, LookupIgnoresCaseStopsAtBodyAndNeedsTheColon) {
  THttpRequest r;
  Template(r);
  r.Insert(1, "  depth:   1");  // a second, earlier one wins
  r.Insert(1, "Hostname: wrong");
  std::string v;
  ASSERT_TRUE(r.GetHeader("DEPTH", v));
  EXPECT_EQ(v, "1");
  ASSERT_TRUE(r.GetHeader("host", v));
  EXPECT_EQ(v, "blah1");
  EXPECT_FALSE(r.GetHeader("X-Body", v));
  EXPECT_FALSE(r.GetHeader("Missing", v));
}

TEST(HttpHeaders, SetHeaderReplacesRemovesAndInsertsBeforeTheBody) {
  THttpRequest r;
  Template(r);
  EXPECT_TRUE(r.SetHeader("content-length", "12"));
  EXPECT_FALSE(r.SetHeader("Cookie", "a=1"));
  EXPECT_TRUE(r.SetHeader("DEPTH", ""));
  EXPECT_EQ(Of(r), (TStringList{"PROPFIND blah0 HTTP/1.1", "Host: blah1", "content-length: 12",
                                "Cookie: a=1", "", "X-Body: not a header"}));
  // Removing what is not there changes nothing.
  EXPECT_FALSE(r.SetHeader("Nothing", ""));
  EXPECT_EQ(r.Count(), 6);
}

TEST(HttpHeaders, SetHeaderOnListsWithoutHeaderBlock) {
  THttpRequest empty;
  EXPECT_FALSE(empty.SetHeader("Host", "a.example"));
  EXPECT_EQ(Of(empty), (TStringList{"GET", "Host: a.example"}));

  THttpRequest onlyStart;
  onlyStart.Add("GET /x HTTP/1.1");
  onlyStart.SetHeader("Depth", "0");
  EXPECT_EQ(Of(onlyStart), (TStringList{"GET /x HTTP/1.1", "Depth: 0"}));
  onlyStart.SetHeader("Brief", "t");
  EXPECT_EQ(Of(onlyStart), (TStringList{"GET /x HTTP/1.1", "Brief: t", "Depth: 0"}));
}

TEST(HttpHeaders, ServerTextCannotStartLinesOfItsOwn) {
  THttpRequest r;
  Template(r);
  r.SetHeader("Cookie", "a=1\nX-Injected: 1");
  r.SetUrl("http://h.example/a\rb");
  const std::string wire = r.SaveToString();
  EXPECT_NE(wire.find("Cookie: a=1X-Injected: 1\r\n"), std::string::npos);
  EXPECT_EQ(r[0], "PROPFIND /ab HTTP/1.1");
}

TEST(HttpHeaders, HostHeaderSetsDefaultHostUnlessPlaceholder) {
  THttpRequest r;
  Template(r);
  r.DefaultHost = "start";
  r.SetHeader("Host", "BLAH9");
  EXPECT_EQ(r.DefaultHost, "start");
  r.SetHeader("HOST", "mail.example");
  EXPECT_EQ(r.DefaultHost, "mail.example");
  r.SetHeader("Other", "x.example");
  EXPECT_EQ(r.DefaultHost, "mail.example");
}

TEST(HttpStartLine, SetUriKeepsMethodAndVersion) {
  struct Case {
    TStringList before;
    TStringList after;
  } cases[] = {
      {{}, {"GET /a HTTP/1.1"}},
      {{"", "Depth: 0"}, {"GET /a HTTP/1.1", "Depth: 0"}},
      {{"PROPFIND"}, {"PROPFIND /a HTTP/1.1"}},
      {{"MOVE  /old"}, {"MOVE /a HTTP/1.1"}},
      {{"POST /old HTTP/1.0"}, {"POST /a HTTP/1.0"}},
  };
  for (const auto &c : cases) {
    THttpRequest r;
    r.Lines() = c.before;
    r.SetUri("/a");
    EXPECT_EQ(Of(r), c.after);
    std::string uri;
    ASSERT_TRUE(r.GetUri(uri));
    EXPECT_EQ(uri, "/a");
  }
  THttpRequest oneWord;
  oneWord.Add("GET");
  std::string uri;
  EXPECT_FALSE(oneWord.GetUri(uri));
  THttpRequest none;
  EXPECT_FALSE(none.GetUri(uri));
}

TEST(HttpStartLine, SetUrlSplitsHostPortAndPath) {
  THttpRequest r;
  Template(r);
  r.SetUrl("http://mail.example:8080/folders/inbox/?x=http://y");
  EXPECT_EQ(Of(r), (TStringList{"PROPFIND /folders/inbox/?x=http://y HTTP/1.1", "Depth: 0",
                                "host: mail.example", "Content-Length: 343", "port: 8080", "",
                                "X-Body: not a header"}));
  EXPECT_EQ(r.DefaultHost, "mail.example");
  std::string full;
  ASSERT_TRUE(r.GetFullUri(full));
  EXPECT_EQ(full, "mail.example/folders/inbox/?x=http://y");

  // A later URL without a port must not inherit the old one.
  r.SetUrl("http://other.example/a");
  std::string port;
  EXPECT_FALSE(r.GetHeader("port", port));
  // A relative redirect target keeps host and port.
  r.SetUrl("http://other.example:81/a");
  r.SetUrl("/b/c");
  ASSERT_TRUE(r.GetFullUri(full));
  EXPECT_EQ(full, "other.example/b/c");
  ASSERT_TRUE(r.GetHeader("port", port));
  EXPECT_EQ(port, "81");
  // Only a host: the path stays.
  r.SetUrl("http://third.example");
  ASSERT_TRUE(r.GetFullUri(full));
  EXPECT_EQ(full, "third.example/b/c");
}

TEST(HttpBody, BodyLengthCountsLineEnds) {
  THttpRequest r;
  Template(r);
  r.Lines().back() = std::string(10, 'a');
  r.Add(std::string(20, 'b'));
  EXPECT_EQ(r.BodyLength(), 34);
  r.Add("");
  EXPECT_EQ(r.BodyLength(), 36);
  THttpRequest noBody;
  noBody.Add("GET / HTTP/1.1");
  noBody.Add("Host: x");
  EXPECT_EQ(noBody.BodyLength(), 0);
}

TEST(HttpResponseLines, StatusCodeAndText) {
  THttpResponse r;
  int code = 0;
  EXPECT_FALSE(r.GetStatusCode(code));
  EXPECT_EQ(r.GetStatusText(), "");
  r.Lines() = {"", "HTTP/1.1  401 Bad  Password", "WWW-Authenticate: Digest x"};
  ASSERT_TRUE(r.GetStatusCode(code));
  EXPECT_EQ(code, 401);
  EXPECT_EQ(r[0], "HTTP/1.1  401 Bad  Password");  // the stray empty line went
  EXPECT_EQ(r.GetStatusText(), "Bad  Password");
  r[0] = "HTTP/1.1 207";
  ASSERT_TRUE(r.GetStatusCode(code));
  EXPECT_EQ(r.GetStatusText(), "");
  for (const char *bad : {"HTTP/1.1", "HTTP/1.1 OK 200", "<html>", "HTTP/1.1 99999999999"}) {
    r[0] = bad;
    EXPECT_FALSE(r.GetStatusCode(code)) << bad;
    EXPECT_EQ(r.GetStatusText(), "") << bad;
  }
}

TEST(HttpResponseLines, MergeHeadersIntoEmptyAndFilledResponses) {
  THttpResponse r;
  r.MergeHeaders({"HTTP/1.1 200 OK", "A: 1"});
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "A: 1", ""}));

  // Filled: same positions are overwritten, an empty line makes room, the
  // body survives.
  r.Lines() = {"HTTP/1.1 100 Continue", "", "body1", "body2"};
  r.MergeHeaders({"HTTP/1.1 207 Multi", "B: 2", "C: 3"});
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 207 Multi", "B: 2", "C: 3", "", "body1", "body2"}));

  r.Lines() = {"old1", "old2", "old3", "", "body"};
  r.MergeHeaders({"new1"});
  EXPECT_EQ(Of(r), (TStringList{"new1", "", "old2", "old3", "", "body"}));

  r.Lines() = {"", "x"};
  r.MergeHeaders({"HTTP/1.1 200 OK"});
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "", "x"}));

  r.Lines() = {"old"};
  r.MergeHeaders({"HTTP/1.1 200 OK", "A: 1"});
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "A: 1", ""}));
}

TEST(HttpResponseLines, PutBodyReplacesWhateverBodyWasThere) {
  THttpResponse r;
  r.Lines() = {"HTTP/1.1 200 OK", "", "a", "b", "c"};
  r.PutBody({"x"});
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "", "x"}));
  r.PutBody({"1", "2", "3", ""});
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "", "1", "2", "3", ""}));
  EXPECT_EQ(r.GetBody(), (TStringList{"1", "2", "3", ""}));
  r.Lines() = {"HTTP/1.1 200 OK", "A: 1"};
  r.PutBody({"body"});
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "A: 1", "", "body"}));
  r.Lines() = {"HTTP/1.1 200 OK"};
  EXPECT_TRUE(r.GetBody().empty());
  // A body handed over by reference stays the caller's; the same lines
  // handed over to keep give the same response.
  const TStringList kept = {"k1", "", "k2"};
  r.Lines() = {"HTTP/1.1 200 OK", "", "old"};
  r.PutBody(kept);
  EXPECT_EQ(kept, (TStringList{"k1", "", "k2"}));
  const TStringList byCopy = Of(r);
  r.Lines() = {"HTTP/1.1 200 OK", "", "old"};
  TStringList given = kept;
  r.PutBody(std::move(given));
  EXPECT_EQ(Of(r), byCopy);
  // Taking the body leaves the status and headers as they were.
  r.Lines() = {"HTTP/1.1 200 OK", "A: 1", "", "b1", "", "b2"};
  EXPECT_EQ(r.TakeBody(), (TStringList{"b1", "", "b2"}));
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "A: 1", ""}));
  EXPECT_TRUE(r.TakeBody().empty());
  r.Lines() = {"HTTP/1.1 200 OK"};
  EXPECT_TRUE(r.TakeBody().empty());
  EXPECT_EQ(Of(r), TStringList{"HTTP/1.1 200 OK"});
}

TEST(HttpResponseLines, ABodyTextIsSplitOnlyWhenLinesAreAskedFor) {
  THttpResponse r;
  r.MergeHeaders({"HTTP/1.1 200 OK", "A: 1"});
  r.PutBodyText("b1\r\n\r\nb2\nb3");
  // The headers are there without the body being split.
  std::string value;
  EXPECT_TRUE(r.GetHeader("A", value));
  EXPECT_EQ(value, "1");
  EXPECT_EQ(r.HeaderEnd(), 2);
  EXPECT_EQ(r[0], "HTTP/1.1 200 OK");
  EXPECT_EQ(r.GetBody(), (TStringList{"b1", "", "b2", "b3"}));
  // Taken as text it comes back exactly as it was put, and only the
  // headers stay.
  EXPECT_EQ(r.TakeBodyText(), "b1\r\n\r\nb2\nb3");
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "A: 1", ""}));
  EXPECT_EQ(r.TakeBodyText(), "");

  // Any line access splits it, as if it had been put as lines.
  r.PutBodyText("x\r\ny\r\n");
  EXPECT_EQ(r.Count(), 5);
  EXPECT_EQ(r[4], "y");
  EXPECT_EQ(r.SaveToString(), "HTTP/1.1 200 OK\r\nA: 1\r\n\r\nx\r\ny\r\n");
  // Lines put as lines come back as text with CR LF after each.
  EXPECT_EQ(r.TakeBodyText(), "x\r\ny\r\n");
  r.PutBody({"p", ""});
  EXPECT_EQ(r.TakeBodyText(), "p\r\n\r\n");

  // A new body, lines or text, replaces a held one; clearing drops it.
  r.PutBodyText("old");
  r.PutBody({"new"});
  EXPECT_EQ(Of(r), (TStringList{"HTTP/1.1 200 OK", "A: 1", "", "new"}));
  r.PutBodyText("old");
  r.PutBodyText("newer");
  EXPECT_EQ(r.TakeBody(), TStringList{"newer"});
  r.PutBodyText("gone");
  r.Clear();
  EXPECT_TRUE(r.Empty());
  EXPECT_EQ(r.TakeBodyText(), "");
  r.MergeHeaders({"HTTP/1.1 200 OK"});
  EXPECT_TRUE(r.GetBody().empty());
}

TEST(HttpServiceBase, OverrideReplacesSchemeHostAndPortOnly) {
  SetServiceBaseOverride("http://127.0.0.1:4321");
  EXPECT_EQ(ApplyServiceBase("http://mail.example/svc/x.asp?a=1"),
            "http://127.0.0.1:4321/svc/x.asp?a=1");
  EXPECT_EQ(UrlHost(ApplyServiceBase("http://mail.example:99/")), "127.0.0.1");
  EXPECT_NE(HttpMailEndpointFor("joe@MSN.com"), HttpMailEndpointFor("joe@other.example"));
  EXPECT_EQ(HttpMailEndpointFor("joe@MSN.com").rfind("http://127.0.0.1:4321/", 0), 0u);
  THttpRequest r;
  EXPECT_EQ(r.DefaultHost, "127.0.0.1");
  SetServiceBaseOverride("");
  EXPECT_EQ(ApplyServiceBase("http://mail.example/a"), "http://mail.example/a");
}

TEST(HttpLogonRequest, TemplateAimedAtEndpoint) {
  THttpRequest r;
  r.BuildLogonRequest("http://svc.example:8081/svcs/x/httpmail.asp");
  std::string v;
  ASSERT_TRUE(r.GetHeader("Host", v));
  EXPECT_EQ(v, "svc.example");
  ASSERT_TRUE(r.GetHeader("Port", v));
  EXPECT_EQ(v, "8081");
  EXPECT_EQ(r[0], "PROPFIND /svcs/x/httpmail.asp HTTP/1.1");
  const TStringList body(r.Lines().begin() + r.HeaderEnd() + 1, r.Lines().end());
  ASSERT_EQ(body.size(), 15u);
  EXPECT_EQ(body[7], "\t\t<hm:sendmsg/>");
  EXPECT_EQ(body.back(), "</D:propfind>");
}

}  // namespace
