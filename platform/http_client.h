// A blocking HTTP/1.1 client over libcurl: one per worker, keep-alive, redirects not followed,
// optional proxy, failures worded so that the tile fetch can classify them.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qm {

struct ProxySettings {
  std::string host;
  int port = 0;
  std::string username;
  std::string password;
};

// The outcome of one GET. On failure, message follows three rules the callers rely on:
// - an answer whose status is not 2xx (redirects included): the status line as received,
//   e.g. "HTTP/1.1 404 Not Found";
// - a socket failure: "Socket Error # N\r\n<text>" with N the Winsock number (10054 reset,
//   10048 address in use, 10060 timed out, 10061 refused, 10065 host unreachable, 11001 host
//   not found, ...);
// - a connection closed without an answer, or in the middle of one: "Connection Closed
//   Gracefully.".
// A request still unfinished after its time limit fails as a time-out (10060), however steadily
// bytes arrive. A body over kMaxBodyBytes fails with a message of its own.
struct HttpResult {
  bool ok = false;
  std::string message;
  // Times libcurl sent the request again on its own, on a new connection, because a kept-alive
  // connection had died before any answer: each was a failed attempt ("connection closed")
  // repeated at once.
  int silentRepeats = 0;
  // The answer's status code (0 when none arrived) and the headers a busy server's wait and a
  // stored tile's validators are taken from, as received less their control characters ("" when
  // absent). The status line in message is cleaned the same way.
  int status = 0;
  std::string retryAfter{};
  std::string etag{};
  std::string lastModified{};
  // How long the request took, repeats on a new connection included.
  std::chrono::milliseconds elapsed{0};
};

class HttpClient {
 public:
  // No tile comes near this; a larger answer is not a tile.
  static constexpr std::size_t kMaxBodyBytes = 8u * 1024u * 1024u;
  static constexpr long kConnectTimeoutSeconds = 30;
  static constexpr long kStallTimeoutSeconds = 60;
  // A whole request, connecting included: a server that drips bytes never trips the stall
  // limit, so this ends it.
  static constexpr long kRequestTimeLimitSeconds = 120;

  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  void SetProxy(const ProxySettings& proxy);
  // Shorter limits for tests; the program keeps the defaults above.
  void SetTimeouts(long connectSeconds, long stallSeconds,
                   long requestSeconds = kRequestTimeLimitSeconds);
  // Request headers sent with every GET (name, value), in the order given.
  void SetHeaders(std::vector<std::pair<std::string, std::string>> headers);

  // GETs url and appends the answer's body (error pages included) to body, reserving room once
  // when the answer announces its length.
  HttpResult Get(const std::string& url, std::string& body);
  // The same within timeLimit, when that is shorter than the client's request time limit.
  HttpResult Get(const std::string& url, std::string& body, std::chrono::milliseconds timeLimit);

  // Safe from any thread: the transfer in flight fails within about a second, whether it waits
  // or receives, and every later one fails at once.
  void Abort();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Once per process before any client is used (curl_global_init, SIGPIPE ignored).
void HttpGlobalInit();

}  // namespace qm
