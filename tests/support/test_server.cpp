// The local HTTP/1.1 test server: one accepting thread and one thread per connection, all woken
// by one pipe when the server shuts down.
#include "tests/support/test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "engine/tile_source.h"
#include "platform/http_date.h"
#include "tests/support/server_wire.h"

namespace qmtest {
namespace {

constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxConnections = 64;

// Waits until fd is readable or the wake pipe fires; false when woken for shutdown.
bool WaitReadable(int fd, int wakeFd) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  while (true) {
    int n = poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (fds[1].revents & POLLIN)) return false;
    return true;
  }
}

// Sleeps ms milliseconds unless the wake pipe fires first; false when woken for shutdown.
bool SleepUnlessWoken(int ms, int wakeFd) {
  pollfd fd = {wakeFd, POLLIN, 0};
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    int n = poll(&fd, 1, static_cast<int>(left.count()));
    if (n > 0) return false;
  }
}

// Sends everything unless the peer goes away or the wake pipe fires.
bool SendAll(int fd, const std::string& data, int wakeFd) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return false;
      if (fds[1].revents & POLLIN) return false;
      continue;
    }
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void CloseWithReset(int fd) {
  linger lin{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lin, sizeof lin);
  close(fd);
}

// Adds the validators to a validated answer and turns it into 304 when the request's conditions
// say the client holds this version.
void ApplyConditions(ScriptedAnswer& answer, const RequestHead& head) {
  const std::string etag = answer.etag.value_or(TestServer::DefaultEtag(head.path));
  answer.headers.emplace_back("ETag", etag);
  if (!answer.lastModified.empty()) answer.headers.emplace_back("Last-Modified", answer.lastModified);
  const auto ifNoneMatch = FindHeader(head.headers, "If-None-Match");
  const auto ifModifiedSince = FindHeader(head.headers, "If-Modified-Since");
  const auto modified = qm::ParseHttpDate(answer.lastModified);
  const auto since = ifModifiedSince ? qm::ParseHttpDate(*ifModifiedSince) : std::nullopt;
  const bool notModified = ifNoneMatch ? *ifNoneMatch == etag : since && modified && *since >= *modified;
  if (notModified) {
    answer.status = 304;
    answer.body = "";
  }
}

std::string ErrorPage(int status) {
  return "<html><body>" + std::to_string(status) + " " + ReasonPhrase(status) +
         "</body></html>";
}

}  // namespace

ScriptedAnswer ScriptedAnswer::Status(int status) {
  ScriptedAnswer a;
  a.status = status;
  return a;
}
ScriptedAnswer ScriptedAnswer::Ok(std::string body) {
  ScriptedAnswer a;
  a.body = std::move(body);
  return a;
}
ScriptedAnswer ScriptedAnswer::Redirect(int status, std::string location) {
  ScriptedAnswer a = Status(status);
  a.headers.emplace_back("Location", std::move(location));
  return a;
}
ScriptedAnswer ScriptedAnswer::Reset() {
  ScriptedAnswer a;
  a.kind = Kind::kReset;
  return a;
}
ScriptedAnswer ScriptedAnswer::CloseWithoutAnswer() {
  ScriptedAnswer a;
  a.kind = Kind::kCloseWithoutAnswer;
  return a;
}
ScriptedAnswer ScriptedAnswer::PartialBody(std::string sent, std::size_t declaredLength) {
  ScriptedAnswer a;
  a.kind = Kind::kPartialBody;
  a.body = std::move(sent);
  a.declaredLength = declaredLength;
  return a;
}
ScriptedAnswer ScriptedAnswer::UnfinishedHeaders() {
  ScriptedAnswer a;
  a.kind = Kind::kUnfinishedHeaders;
  return a;
}
ScriptedAnswer ScriptedAnswer::Dripping(std::string body, int intervalMs) {
  ScriptedAnswer a;
  a.kind = Kind::kDrip;
  a.body = std::move(body);
  a.dripIntervalMs = intervalMs;
  return a;
}
ScriptedAnswer ScriptedAnswer::Validated(std::optional<std::string> body, std::optional<std::string> etag,
                                         std::string lastModified) {
  ScriptedAnswer a;
  a.body = std::move(body);
  a.validated = true;
  a.etag = std::move(etag);
  a.lastModified = std::move(lastModified);
  return a;
}
ScriptedAnswer ScriptedAnswer::Delayed(int ms) const {
  ScriptedAnswer a = *this;
  a.delayMs = ms;
  return a;
}
ScriptedAnswer ScriptedAnswer::Held() const {
  ScriptedAnswer a = *this;
  a.held = true;
  return a;
}
ScriptedAnswer ScriptedAnswer::Chunked() const {
  ScriptedAnswer a = *this;
  a.chunked = true;
  return a;
}
ScriptedAnswer ScriptedAnswer::ClosingConnection() const {
  ScriptedAnswer a = *this;
  a.closeAfter = true;
  return a;
}

std::optional<std::string> RecordedRequest::Header(const std::string& name) const {
  return FindHeader(headers, name);
}

struct TestServer::State {
  int listenFd = -1;
  int wakeRead = -1;
  int wakeWrite = -1;

  mutable std::mutex mutex;
  mutable std::condition_variable recorded;
  std::condition_variable releasedOrStopping;
  bool released = false;
  bool stopping = false;
  std::map<std::string, std::deque<ScriptedAnswer>> scripts;
  std::optional<ScriptedAnswer> fallback;
  std::optional<std::string> expectedProxyAuth;
  std::vector<RecordedRequest> requests;
  int connections = 0;

  struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<Connection> open;  // only the accepting thread touches it until shutdown
  std::thread acceptor;

  void AcceptLoop();
  void ReapFinished();
  // Waits for ReleaseHeld(); false when the server stops first.
  bool AwaitRelease();
  void Serve(int fd, int connectionId);
  // Picks the answer for a request and records it; the answer's status is recorded up front.
  ScriptedAnswer Answer(const RequestHead& head, int connectionId);
  // Sends the answer; false when the connection is to be (or was) closed.
  bool Perform(int fd, const ScriptedAnswer& answer, const std::string& path, bool clientCloses);
  void Tunnel(int fd, const RequestHead& head, int connectionId, const std::string& early);
};

bool TestServer::State::AwaitRelease() {
  std::unique_lock lock(mutex);
  releasedOrStopping.wait(lock, [this] { return released || stopping; });
  return !stopping;
}

void TestServer::State::ReapFinished() {
  for (auto it = open.begin(); it != open.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = open.erase(it);
    } else {
      ++it;
    }
  }
}

void TestServer::State::AcceptLoop() {
  while (WaitReadable(listenFd, wakeRead)) {
    int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ReapFinished();
    if (open.size() >= kMaxConnections) {
      close(fd);
      continue;
    }
    int id;
    {
      std::lock_guard lock(mutex);
      id = ++connections;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    open.push_back({std::thread([this, fd, id, done] {
                      Serve(fd, id);
                      done->store(true);
                    }),
                    done});
  }
}

ScriptedAnswer TestServer::State::Answer(const RequestHead& head, int connectionId) {
  std::lock_guard lock(mutex);
  ScriptedAnswer answer;
  auto auth = FindHeader(head.headers, "Proxy-Authorization");
  if (expectedProxyAuth && auth != expectedProxyAuth) {
    answer = ScriptedAnswer::Status(407);
    answer.headers.emplace_back("Proxy-Authenticate", "Basic realm=\"test\"");
  } else if (auto it = scripts.find(head.path); it != scripts.end() && !it->second.empty()) {
    answer = std::move(it->second.front());
    it->second.pop_front();
  } else if (fallback) {
    answer = *fallback;
  }
  if (answer.validated && answer.kind == ScriptedAnswer::Kind::kRespond && answer.status == 200) {
    ApplyConditions(answer, head);
  }
  RecordedRequest record{head.method, head.target,     head.path,  head.headers,
                         std::chrono::steady_clock::now(), connectionId, head.proxyForm,
                         answer.kind == ScriptedAnswer::Kind::kRespond ? answer.status : 0};
  requests.push_back(std::move(record));
  recorded.notify_all();
  return answer;
}

bool TestServer::State::Perform(int fd, const ScriptedAnswer& answer, const std::string& path,
                                bool clientCloses) {
  using Kind = ScriptedAnswer::Kind;
  if (answer.held && !AwaitRelease()) return false;
  if (answer.delayMs > 0 && !SleepUnlessWoken(answer.delayMs, wakeRead)) return false;
  std::string generated;
  if (!answer.body) generated = answer.status == 200 ? DefaultBody(path) : ErrorPage(answer.status);
  const std::string& body = answer.body ? *answer.body : generated;
  switch (answer.kind) {
    case Kind::kReset:
      return false;
    case Kind::kCloseWithoutAnswer:
      return false;
    case Kind::kPartialBody:
      SendAll(fd, AnswerHead(answer.status, answer.headers, answer.declaredLength, false, false) +
                      body, wakeRead);
      return false;
    case Kind::kUnfinishedHeaders:
      SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", wakeRead);
      return false;
    case Kind::kDrip:
      if (!SendAll(fd, AnswerHead(answer.status, answer.headers, body.size(), false, true), wakeRead)) return false;
      for (char byte : body) {
        if (!SleepUnlessWoken(answer.dripIntervalMs, wakeRead) || !SendAll(fd, std::string(1, byte), wakeRead)) break;
      }
      return false;
    case Kind::kRespond:
      break;
  }
  bool close = answer.closeAfter || clientCloses;
  std::string head = AnswerHead(answer.status, answer.headers, body.size(), answer.chunked, close, answer.reason);
  // Small answers go out in one send, so no segment waits for the peer's delayed ACK.
  constexpr std::size_t kOneSend = 64 * 1024;
  bool sent = answer.chunked            ? SendAll(fd, head + ChunkedBody(body), wakeRead)
              : body.size() <= kOneSend ? SendAll(fd, head + body, wakeRead)
                                        : SendAll(fd, head, wakeRead) && SendAll(fd, body, wakeRead);
  return sent && !close;
}

namespace {

// A connection to 127.0.0.1:port of a CONNECT target "127.0.0.1:port"; -1 for another host.
int ConnectToTarget(const std::string& target) {
  const std::size_t colon = target.rfind(':');
  if (colon == std::string::npos || target.substr(0, colon) != "127.0.0.1") return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::atoi(target.c_str() + colon + 1)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Relays bytes both ways until one side closes or the server stops.
void Relay(int client, int target, int wakeFd) {
  char chunk[16 * 1024];
  pollfd fds[3] = {{client, POLLIN, 0}, {target, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  while (poll(fds, 3, -1) > 0 && !(fds[2].revents & POLLIN)) {
    for (int from = 0; from < 2; ++from) {
      if (!(fds[from].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = recv(fds[from].fd, chunk, sizeof chunk, 0);
      if (n <= 0 || !SendAll(fds[1 - from].fd, std::string(chunk, static_cast<std::size_t>(n)), wakeFd)) return;
    }
  }
}

}  // namespace

// A CONNECT request opens a tunnel to a port of this machine, as an HTTP proxy does for HTTPS.
void TestServer::State::Tunnel(int fd, const RequestHead& head, int connectionId, const std::string& early) {
  const ScriptedAnswer answer = Answer(head, connectionId);
  const int target = answer.status == 200 ? ConnectToTarget(head.target) : -1;
  if (target < 0) {
    SendAll(fd, AnswerHead(answer.status == 200 ? 502 : answer.status, answer.headers, 0, false, true), wakeRead);
    return (void)close(fd);
  }
  if (SendAll(fd, "HTTP/1.1 200 Connection established\r\n\r\n", wakeRead) &&
      (early.empty() || SendAll(target, early, wakeRead))) {
    Relay(fd, target, wakeRead);
  }
  close(target);
  close(fd);
}

void TestServer::State::Serve(int fd, int connectionId) {
  std::string buffer;
  char chunk[16 * 1024];
  while (true) {
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHeadBytes || !WaitReadable(fd, wakeRead)) return (void)close(fd);
      ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return (void)close(fd);
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    auto head = ParseRequestHead(std::string_view(buffer).substr(0, headEnd));
    buffer.erase(0, headEnd + 4);
    if (!head) {
      SendAll(fd, AnswerHead(400, {}, 0, false, true), wakeRead);
      return (void)close(fd);
    }
    if (head->method == "CONNECT") return Tunnel(fd, *head, connectionId, buffer);
    // A request body (none is expected from GET) is read and dropped.
    std::size_t bodyLength = 0;
    if (auto length = FindHeader(head->headers, "Content-Length")) {
      bodyLength = std::strtoull(length->c_str(), nullptr, 10);
    }
    while (buffer.size() < bodyLength) {
      if (!WaitReadable(fd, wakeRead)) return (void)close(fd);
      ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return (void)close(fd);
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    buffer.erase(0, bodyLength);

    ScriptedAnswer answer = Answer(*head, connectionId);
    auto connectionHeader = FindHeader(head->headers, "Connection");
    bool clientCloses = connectionHeader && (*connectionHeader == "close" ||
                                             *connectionHeader == "Close");
    if (!Perform(fd, answer, head->path, clientCloses)) {
      if (answer.kind == ScriptedAnswer::Kind::kReset) return CloseWithReset(fd);
      return (void)close(fd);
    }
  }
}

TestServer::TestServer() : state_(std::make_unique<State>()) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("test server: pipe failed");
  state_->wakeRead = pipeFds[0];
  state_->wakeWrite = pipeFds[1];

  state_->listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (state_->listenFd < 0 ||
      bind(state_->listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(state_->listenFd, 128) != 0 ||
      getsockname(state_->listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("test server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(addr.sin_port);
  state_->acceptor = std::thread([s = state_.get()] { s->AcceptLoop(); });
}

TestServer::~TestServer() {
  {
    const std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->releasedOrStopping.notify_all();
  (void)!write(state_->wakeWrite, "x", 1);
  state_->acceptor.join();
  for (auto& connection : state_->open) connection.thread.join();
  close(state_->listenFd);
  close(state_->wakeRead);
  close(state_->wakeWrite);
}

void TestServer::ReleaseHeld() {
  {
    const std::lock_guard lock(state_->mutex);
    state_->released = true;
  }
  state_->releasedOrStopping.notify_all();
}

std::string TestServer::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TestServer::Url(const std::string& path) const {
  return "http://" + HostPort() + path;
}

std::string TestServer::TilePath(int zoom, int32_t x, int32_t y) {
  return std::string(kSatelliteTilePath) + std::to_string(zoom) + "/" + std::to_string(x) + "/" +
         std::to_string(y) + std::string(kSatelliteTileSuffix);
}

std::string TestServer::DefaultBody(const std::string& path) { return "body of " + path; }

std::string TestServer::DefaultEtag(const std::string& path) { return "\"tag-" + path + "\""; }

void TestServer::Script(const std::string& path, std::vector<ScriptedAnswer> answers) {
  std::lock_guard lock(state_->mutex);
  auto& queue = state_->scripts[path];
  for (auto& answer : answers) queue.push_back(std::move(answer));
}

void TestServer::SetFallback(ScriptedAnswer answer) {
  std::lock_guard lock(state_->mutex);
  state_->fallback = std::move(answer);
}

void TestServer::RequireProxyAuthorization(const std::string& user, const std::string& password) {
  std::lock_guard lock(state_->mutex);
  state_->expectedProxyAuth = "Basic " + Base64(user + ":" + password);
}

std::vector<RecordedRequest> TestServer::Requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

std::vector<RecordedRequest> TestServer::RequestsFor(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  std::vector<RecordedRequest> out;
  std::copy_if(state_->requests.begin(), state_->requests.end(), std::back_inserter(out),
               [&](const RecordedRequest& r) { return r.path == path; });
  return out;
}

std::size_t TestServer::RequestCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests.size();
}

int TestServer::ConnectionCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->connections;
}

bool TestServer::WaitForRequests(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->recorded.wait_for(lock, timeout, [&] { return state_->requests.size() >= n; });
}

uint16_t UnusedLocalPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace qmtest
