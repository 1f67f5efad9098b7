// A local HTTP/1.1 server on 127.0.0.1 for network tests: scripted answers per path, keep-alive,
// proxy-form request lines with optional Proxy-Authorization, CONNECT tunnels to ports of this
// machine (recorded with their target), and a log of every request.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qmtest {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One answer the server gives to one request.
struct ScriptedAnswer {
  enum class Kind {
    kRespond,             // status line, headers, whole body
    kReset,               // SO_LINGER 0, then close: the client sees a connection reset
    kCloseWithoutAnswer,  // close after reading the request, nothing sent
    kPartialBody,         // announces declaredLength bytes, sends body, then closes
    kUnfinishedHeaders,   // a status line and one header, no blank line, then closes
    kDrip,                // the head at once, then the body a byte every dripIntervalMs
  };
  Kind kind = Kind::kRespond;
  int status = 200;
  std::optional<std::string> body;  // none: the path's default body (200) or a small error page
  HeaderList headers;               // extra headers, e.g. Location
  std::optional<std::string> reason;  // the status line's text after the code, as sent
  int delayMs = 0;                  // wait before answering
  bool held = false;                // wait before answering until ReleaseHeld()
  std::size_t declaredLength = 0;   // kPartialBody only
  bool chunked = false;             // send the body with chunked transfer coding
  bool closeAfter = false;          // "Connection: close" and close after this answer
  int dripIntervalMs = 0;           // kDrip only
  // A tile with validators: the answer carries ETag (etag, or the path's DefaultEtag) and
  // Last-Modified (when set), and becomes 304 without body when the request's If-None-Match
  // names the ETag or, without If-None-Match, its If-Modified-Since is not before Last-Modified.
  bool validated = false;
  std::optional<std::string> etag;
  std::string lastModified;

  static ScriptedAnswer Status(int status);
  static ScriptedAnswer Ok(std::string body);
  static ScriptedAnswer Redirect(int status, std::string location);
  static ScriptedAnswer Reset();
  static ScriptedAnswer CloseWithoutAnswer();
  static ScriptedAnswer PartialBody(std::string sent, std::size_t declaredLength);
  static ScriptedAnswer UnfinishedHeaders();
  static ScriptedAnswer Dripping(std::string body, int intervalMs);
  static ScriptedAnswer Validated(std::optional<std::string> body, std::optional<std::string> etag = std::nullopt,
                                  std::string lastModified = "");
  ScriptedAnswer Delayed(int ms) const;
  ScriptedAnswer Held() const;
  ScriptedAnswer Chunked() const;
  ScriptedAnswer ClosingConnection() const;
};

struct RecordedRequest {
  std::string method;
  std::string target;  // as on the request line (absolute URL for proxy-form requests)
  std::string path;    // the path of the target (with its query, if any)
  HeaderList headers;
  std::chrono::steady_clock::time_point time;  // when the request's header block was complete
  int connectionId = 0;                        // 1 for the first accepted connection, and so on
  bool proxyForm = false;
  int answeredStatus = 0;  // 0 when no status line was sent

  // Value of the first header with that name (case-insensitive), or nullopt.
  std::optional<std::string> Header(const std::string& name) const;
};

class TestServer {
 public:
  // Starts listening on 127.0.0.1 at an ephemeral port.
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string HostPort() const;                    // "127.0.0.1:<port>"
  std::string Url(const std::string& path) const;  // "http://127.0.0.1:<port>" + path

  static std::string TilePath(int zoom, int32_t x, int32_t y);
  // The body of a 200 answer without a scripted body: bytes naming the path.
  static std::string DefaultBody(const std::string& path);
  // The ETag of a validated answer without an ETag of its own: a quoted value naming the path.
  static std::string DefaultEtag(const std::string& path);

  // Appends answers for requests of path; each is used once, in order.
  void Script(const std::string& path, std::vector<ScriptedAnswer> answers);
  // The answer for a request whose path has no scripted answer left (default: 200 with
  // DefaultBody).
  void SetFallback(ScriptedAnswer answer);
  // Held answers waiting now, and every one to come, go out.
  void ReleaseHeld();
  // Requests without "Proxy-Authorization: Basic base64(user:password)" get 407.
  void RequireProxyAuthorization(const std::string& user, const std::string& password);

  std::vector<RecordedRequest> Requests() const;
  std::vector<RecordedRequest> RequestsFor(const std::string& path) const;
  std::size_t RequestCount() const;
  int ConnectionCount() const;  // connections accepted so far
  // Waits until at least n requests were recorded; false on timeout.
  bool WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
  uint16_t port_ = 0;
};

// A 127.0.0.1 port with no listener (bound once, then released), for connection-refused tests.
uint16_t UnusedLocalPort();

std::string Base64(const std::string& text);

}  // namespace qmtest
