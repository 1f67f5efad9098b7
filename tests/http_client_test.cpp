// The HTTP client against the local test server: answers, failure wording, keep-alive, proxy,
// limits and abort.
#include "platform/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/server_text.h"
#include "tests/support/test_server.h"

namespace {

using qm::HttpClient;
using qm::HttpResult;
using qmtest::ScriptedAnswer;
using qmtest::TestServer;

const std::string kPath = TestServer::TilePath(13, 2412, 3080);

HttpResult Fetch(HttpClient& client, const std::string& url, std::string* bodyOut = nullptr) {
  std::string body;
  HttpResult result = client.Get(url, body);
  if (bodyOut != nullptr) *bodyOut = body;
  return result;
}

TEST(HttpClientTest, SuccessStoresBodyAndKeepsConnectionAlive) {
  TestServer server;
  server.Script(kPath, {ScriptedAnswer::Ok(""), ScriptedAnswer::Ok("second").Chunked()});
  HttpClient client;
  std::string body;
  HttpResult first = Fetch(client, server.Url(kPath), &body);
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.message, "");
  EXPECT_EQ(body, "");
  EXPECT_TRUE(Fetch(client, server.Url(kPath), &body).ok);
  EXPECT_EQ(body, "second");
  EXPECT_TRUE(Fetch(client, server.Url(kPath), &body).ok);
  EXPECT_EQ(body, TestServer::DefaultBody(kPath));

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto& r : requests) {
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, kPath);
    EXPECT_FALSE(r.proxyForm);
    EXPECT_EQ(r.connectionId, 1);
    EXPECT_EQ(r.Header("Host"), server.HostPort());
    EXPECT_FALSE(r.Header("Proxy-Authorization"));
    EXPECT_FALSE(r.Header("User-Agent"));
    EXPECT_FALSE(r.Header("Referer"));
  }
  EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(HttpClientTest, ErrorStatusGivesStatusLineAndKeepsErrorPage) {
  TestServer server;
  const std::pair<int, const char*> cases[] = {{400, "HTTP/1.1 400 Bad Request"},
                                               {403, "HTTP/1.1 403 Forbidden"},
                                               {404, "HTTP/1.1 404 Not Found"},
                                               {500, "HTTP/1.1 500 Internal Server Error"}};
  HttpClient client;
  for (const auto& [status, line] : cases) {
    server.Script(kPath, {ScriptedAnswer::Status(status)});
    std::string body = "kept|";
    HttpResult result = client.Get(server.Url(kPath), body);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, line);
    EXPECT_EQ(body.rfind("kept|<html>", 0), 0u) << "the error page is appended: " << body;
  }
  EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(HttpClientTest, RedirectsAreNotFollowed) {
  TestServer server;
  const std::pair<int, const char*> cases[] = {{301, "HTTP/1.1 301 Moved Permanently"},
                                               {302, "HTTP/1.1 302 Found"},
                                               {307, "HTTP/1.1 307 Temporary Redirect"}};
  HttpClient client;
  for (const auto& [status, line] : cases) {
    server.Script(kPath, {ScriptedAnswer::Redirect(status, server.Url("/elsewhere"))});
    EXPECT_EQ(Fetch(client, server.Url(kPath)).message, line);
  }
  EXPECT_EQ(server.RequestCount(), 3u);
  EXPECT_TRUE(server.RequestsFor("/elsewhere").empty());
}

TEST(HttpClientTest, BrokenConnectionsAreWordedForTheFailureTable) {
  TestServer server;
  server.Script(kPath, {ScriptedAnswer::Reset(), ScriptedAnswer::CloseWithoutAnswer(),
                        ScriptedAnswer::PartialBody("half", 100),
                        ScriptedAnswer::UnfinishedHeaders()});
  // Each broken answer closes the connection, so every request goes out on a new one and
  // libcurl has no reused connection to repeat silently.
  HttpClient client;
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message,
            "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message, "Connection Closed Gracefully.");
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message, "Connection Closed Gracefully.");
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message, "Connection Closed Gracefully.");
  EXPECT_EQ(server.RequestCount(), 4u);
  EXPECT_EQ(server.ConnectionCount(), 4);
}

TEST(HttpClientTest, RefusedConnectionIsSocketError10061) {
  HttpClient client;
  std::string url = "http://127.0.0.1:" + std::to_string(qmtest::UnusedLocalPort()) + "/x";
  EXPECT_EQ(Fetch(client, url).message, "Socket Error # 10061\r\nConnection refused.");
}

TEST(HttpClientTest, StalledAnswerTimesOutAs10060) {
  TestServer server;
  server.Script(kPath, {ScriptedAnswer::Ok("late").Delayed(5000)});
  HttpClient client;
  client.SetTimeouts(30, 1);
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message,
            "Socket Error # 10060\r\nConnection timed out.");
}

TEST(HttpClientTest, DrippingAnswerEndsAtTheRequestTimeLimitAs10060) {
  // A byte every 100 ms never trips the stall limit; the whole answer would take 100 s.
  TestServer server;
  const ScriptedAnswer dripping = ScriptedAnswer::Dripping(std::string(1000, 'd'), 100);
  server.Script(kPath, {dripping, dripping, dripping});
  HttpClient client;
  client.SetTimeouts(30, 60, 1);
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message,
            "Socket Error # 10060\r\nConnection timed out.");
  // A limit of one request holds when it is the shorter (300 ms, not the client's 60 s); a longer
  // one leaves the client's (1 s, not 90 s).
  client.SetTimeouts(30, 60, 60);
  std::string body;
  const HttpResult limited = client.Get(server.Url(kPath), body, std::chrono::milliseconds(300));
  EXPECT_EQ(limited.message, "Socket Error # 10060\r\nConnection timed out.");
  EXPECT_LT(limited.elapsed, std::chrono::seconds(30));
  client.SetTimeouts(30, 60, 1);
  EXPECT_LT(client.Get(server.Url(kPath), body, std::chrono::seconds(90)).elapsed, std::chrono::seconds(30));
}

TEST(HttpClientTest, ServerTextLosesItsControlCharactersAndEscapeSequences) {
  TestServer server;
  ScriptedAnswer hostile = ScriptedAnswer::Status(503);
  hostile.reason = "Service\x1b[2J\x1b]0;title\x07 Unavailable\x01\x7f ; touch x ;";
  hostile.headers = {{"Retry-After", "\x1b[31m5"}, {"ETag", "\"a\x1b[1mb\x01\""},
                     {"Last-Modified", "Tue,\x7f 15 Nov 1994 12:45:26 GMT"}};
  server.Script(kPath, {hostile, ScriptedAnswer::Status(404)});
  HttpClient client;
  const HttpResult result = Fetch(client, server.Url(kPath));
  EXPECT_EQ(result.message, "HTTP/1.1 503 Service Unavailable ; touch x ;");
  EXPECT_EQ(result.retryAfter, "5");
  EXPECT_EQ(result.etag, "\"ab\"");
  EXPECT_EQ(result.lastModified, "Tue, 15 Nov 1994 12:45:26 GMT");
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message, "HTTP/1.1 404 Not Found") << "a printable line stays as it was";

  const std::pair<std::string, std::string> cases[] = {
      {"a\x1b]0;t\x1b\\b", "ab"},                // a string ended by ESC backslash
      {"a\xc2\x9b" "31mb", "ab"},                  // a control sequence opened by C1 CSI in UTF-8
      {"a\x9b" "31mb\x9d" "0;t\x07" "c", "abc"},  // the same as single bytes
      {"a\x1b" "Eb\x1b(Bc\x1b", "abc"},            // two- and three-byte escapes, a lone ESC
      {"\xc3\xa9t\xc3\xa9\xe2\x80\xae\xe2\x80\xa8!\xff", "\xc3\xa9t\xc3\xa9!\xff"},  // text kept, overrides not
      {"tab\there\xc2\x85", "tabhere"},
      {"a\x1b Fb\x1b( Bc", "abc"},                 // escapes with a blank among their intermediates
      {"\xe0\xa4\x85\xed\xa0\x80", "\xe0\xa4\x85\xed\xa0"},  // U+0905 kept; a surrogate is no UTF-8, its 0x80 a C1
      {"a\x1b[?25;1 qb", "ab"},                     // every parameter and intermediate of a control sequence
      {"a\xc2\x9f" "x\x1b\\b\x9fy\x07", "ab"},         // C1 APC strings, in UTF-8 and as a byte
      {"\xf0\x9f\x98\x80\xf0\x82\x82\xac", "\xf0\x9f\x98\x80\xf0\xac"},  // an emoji kept; an overlong form is none
  };
  for (const auto& [text, clean] : cases) EXPECT_EQ(qm::WithoutControls(text), clean) << text;
}

TEST(HttpClientTest, ConnectionClosedWhileIdleIsReopenedTransparently) {
  TestServer server;
  server.Script(kPath, {ScriptedAnswer::Ok("a"), ScriptedAnswer::CloseWithoutAnswer(),
                        ScriptedAnswer::Ok("b")});
  HttpClient client;
  std::string body;
  EXPECT_TRUE(Fetch(client, server.Url(kPath), &body).ok);
  EXPECT_TRUE(Fetch(client, server.Url(kPath), &body).ok);
  EXPECT_EQ(body, "b");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].connectionId, 1);
  EXPECT_EQ(requests[2].connectionId, 2);
}

TEST(HttpClientTest, ManyRequestsOnOneHandleSurviveRepeatedReconnects) {
  // A long-lived handle must not run out of silent repeats on reused connections.
  TestServer server;
  for (int i = 0; i < 12; ++i) {
    server.Script(kPath, {ScriptedAnswer::Ok("x"), ScriptedAnswer::CloseWithoutAnswer()});
  }
  HttpClient client;
  for (int i = 0; i < 24; ++i) {
    ASSERT_TRUE(Fetch(client, server.Url(kPath)).ok) << "request " << i;
  }
}

TEST(HttpClientTest, BodyLimitHoldsForPlainChunkedAndAnnouncedBodies) {
  TestServer server;
  std::string atLimit(HttpClient::kMaxBodyBytes, 'a');
  std::string overLimit(HttpClient::kMaxBodyBytes + 1, 'b');
  // The last answer announces more than the limit and sends one byte: it fails at that byte.
  server.Script(kPath, {ScriptedAnswer::Ok(atLimit), ScriptedAnswer::Ok(overLimit),
                        ScriptedAnswer::Ok(overLimit).Chunked(),
                        ScriptedAnswer::PartialBody("c", HttpClient::kMaxBodyBytes + 1)});
  HttpClient client;
  std::string body;
  EXPECT_TRUE(Fetch(client, server.Url(kPath), &body).ok);
  EXPECT_EQ(body.size(), HttpClient::kMaxBodyBytes);
  const std::string tooLarge = "Answer body exceeds the limit of 8 MiB.";
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message, tooLarge);
  EXPECT_EQ(Fetch(client, server.Url(kPath)).message, tooLarge);
  EXPECT_EQ(Fetch(client, server.Url(kPath), &body).message, tooLarge);
  EXPECT_EQ(body, "");
}

TEST(HttpClientTest, ProxyGetsAbsoluteUrlAndCredentials) {
  TestServer proxy;
  proxy.RequireProxyAuthorization("user", "pa:ss");
  HttpClient client;
  client.SetProxy({"127.0.0.1", proxy.Port(), "user", "pa:ss"});
  std::string url = "http://tiles.invalid:8080" + kPath;
  std::string body;
  HttpResult result = client.Get(url, body);
  EXPECT_TRUE(result.ok) << result.message;
  EXPECT_EQ(body, TestServer::DefaultBody(kPath));
  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].proxyForm);
  EXPECT_EQ(requests[0].target, url);
  EXPECT_EQ(requests[0].Header("Proxy-Authorization"), "Basic " + qmtest::Base64("user:pa:ss"));

  HttpClient withoutCredentials;
  withoutCredentials.SetProxy({"127.0.0.1", proxy.Port(), "", ""});
  EXPECT_EQ(Fetch(withoutCredentials, url).message,
            "HTTP/1.1 407 Proxy Authentication Required");
  EXPECT_FALSE(proxy.Requests().back().Header("Proxy-Authorization"));
}

TEST(HttpClientTest, EnvironmentProxyIsIgnored) {
  TestServer server;
  std::string deadProxy = "http://127.0.0.1:" + std::to_string(qmtest::UnusedLocalPort());
  setenv("http_proxy", deadProxy.c_str(), 1);
  setenv("HTTP_PROXY", deadProxy.c_str(), 1);
  HttpClient client;
  HttpResult result = Fetch(client, server.Url(kPath));
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  EXPECT_TRUE(result.ok) << result.message;
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(HttpClientTest, HeaderValuesCannotInjectHeaders) {
  TestServer server;
  HttpClient client;
  client.SetHeaders({{"Referer", "http://example.invalid/\r\n"},
                     {"User-Agent", "agent\r\nX-Injected: 1"},
                     {"Connection", "keep-alive"}});
  ASSERT_TRUE(Fetch(client, server.Url(kPath)).ok);
  auto request = server.Requests().at(0);
  EXPECT_EQ(request.Header("Referer"), "http://example.invalid/");
  EXPECT_EQ(request.Header("User-Agent"), "agentX-Injected: 1");
  EXPECT_EQ(request.Header("Connection"), "keep-alive");
  EXPECT_FALSE(request.Header("X-Injected"));
}

TEST(HttpClientTest, OnlyHttpUrlsAreFetched) {
  HttpClient client;
  std::string body;
  HttpResult result = client.Get("file:///etc/hostname", body);
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.message.empty());
  EXPECT_EQ(body, "");
}

TEST(HttpClientTest, AbortFromAnotherThreadEndsTheTransferAndLaterOnes) {
  // One answer that sends nothing for 20 s, one that drips a byte every 100 ms for 100 s.
  for (const ScriptedAnswer& answer : {ScriptedAnswer::Ok("late").Delayed(20000),
                                       ScriptedAnswer::Dripping(std::string(1000, 'd'), 100)}) {
    TestServer server;
    server.Script(kPath, {answer});
    HttpClient client;
    std::thread aborter([&] {
      server.WaitForRequests(1, std::chrono::seconds(10));
      client.Abort();
    });
    HttpResult result = Fetch(client, server.Url(kPath));
    aborter.join();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Request aborted.");
    EXPECT_EQ(Fetch(client, server.Url(kPath)).message, "Request aborted.");
    EXPECT_EQ(server.RequestCount(), 1u);
  }
}

}  // namespace
