// The blocking HTTP/1.1 client over libcurl and the wording of its failures.
#include "platform/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "platform/server_text.h"

namespace qm {
namespace {

const char* const kClosedGracefully = "Connection Closed Gracefully.";
const std::string kBodyTooLarge = "Answer body exceeds the limit of " +
                                  std::to_string(HttpClient::kMaxBodyBytes >> 20) + " MiB.";
const char* const kAborted = "Request aborted.";

struct WinsockError {
  int number;
  const char* text;
};

std::string SocketErrorText(WinsockError e) {
  return "Socket Error # " + std::to_string(e.number) + "\r\n" + e.text;
}

constexpr WinsockError kReset{10054, "Connection reset by peer."};
constexpr WinsockError kAddressInUse{10048, "Address already in use."};
constexpr WinsockError kTimedOut{10060, "Connection timed out."};
constexpr WinsockError kRefused{10061, "Connection refused."};
constexpr WinsockError kHostUnreachable{10065, "No route to host."};
constexpr WinsockError kHostNotFound{11001, "Host not found."};
constexpr WinsockError kAborted10053{10053, "Software caused connection abort."};
constexpr WinsockError kNetUnreachable{10051, "Network is unreachable."};
constexpr WinsockError kNetDown{10050, "Network is down."};
constexpr WinsockError kHostDown{10064, "Host is down."};
constexpr WinsockError kNetReset{10052, "Net dropped connection or reset."};
constexpr WinsockError kNoBuffers{10055, "No buffer space available."};
constexpr WinsockError kTooManyFiles{10024, "Too many open files."};
constexpr WinsockError kAccess{10013, "Permission denied."};
constexpr WinsockError kNotConnected{10057, "Socket is not connected."};

// The Winsock error for an errno of a failed connect, send or receive; fallback when the errno
// names nothing specific.
WinsockError FromErrno(long err, WinsockError fallback) {
  switch (err) {
    case ECONNREFUSED: return kRefused;
    case ECONNRESET:
    case EPIPE: return kReset;
    case ETIMEDOUT: return kTimedOut;
    case EADDRINUSE:
    case EADDRNOTAVAIL: return kAddressInUse;
    case ENETUNREACH: return kNetUnreachable;
    case EHOSTUNREACH: return kHostUnreachable;
    case ECONNABORTED: return kAborted10053;
    case ENETDOWN: return kNetDown;
    case EHOSTDOWN: return kHostDown;
    case ENETRESET: return kNetReset;
    case ENOBUFS: return kNoBuffers;
    case EMFILE:
    case ENFILE: return kTooManyFiles;
    case EACCES:
    case EPERM: return kAccess;
    case ENOTCONN: return kNotConnected;
    default: return fallback;
  }
}

// Removes CR and LF so that a header value can never end the header block early.
std::string WithoutLineBreaks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

std::string StripLineEnd(const char* data, std::size_t size) {
  while (size > 0 && (data[size - 1] == '\r' || data[size - 1] == '\n')) --size;
  return std::string(data, size);
}

}  // namespace

struct HttpClient::Impl {
  CURL* curl = nullptr;
  std::atomic<bool> aborted{false};
  bool useProxy = false;
  ProxySettings proxy;
  std::vector<std::pair<std::string, std::string>> headers;
  long connectTimeout = kConnectTimeoutSeconds;
  long stallTimeout = kStallTimeoutSeconds;
  long requestTimeLimit = kRequestTimeLimitSeconds;
  std::chrono::milliseconds attemptLimit{0};  // of the request in flight; 0: requestTimeLimit

  // State of the request in flight.
  std::string* body = nullptr;
  std::size_t bodyBytes = 0;
  bool bodyTooLarge = false;
  std::string statusLine;
  bool headerBlockEnded = false;
  std::string retryAfter, etag, lastModified;
  char errorDetail[CURL_ERROR_SIZE] = {};
  int requestsSent = 0;

  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  bool MakeRoomForAnnouncedBody();
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  void ClearKeptHeaders();
  void KeepHeader(const std::string& line);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  static int OnDebug(CURL*, curl_infotype type, char*, size_t, void* self);
  std::string TlsFailureText(CURLcode code) const;

  void SetOptions(const std::string& url, curl_slist* headerList);
  HttpResult Outcome(CURLcode code);
  std::string SocketFailure(CURLcode code) const;
};

// Before the first bytes of a body: an announced length over the limit fails at once, one within
// it is reserved in the caller's buffer so that the body is never copied while it grows.
bool HttpClient::Impl::MakeRoomForAnnouncedBody() {
  curl_off_t announced = -1;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK ||
      announced < 0) {
    return true;
  }
  if (static_cast<std::uint64_t>(announced) > kMaxBodyBytes) return false;
  body->reserve(body->size() + static_cast<std::size_t>(announced));
  return true;
}

size_t HttpClient::Impl::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* impl = static_cast<Impl*>(self);
  std::size_t n = size * count;
  const bool fits = impl->bodyBytes > 0 || impl->MakeRoomForAnnouncedBody();
  if (!fits || n > kMaxBodyBytes - impl->bodyBytes) {
    impl->bodyTooLarge = true;
    return 0;  // anything but n fails the transfer
  }
  impl->body->append(data, n);
  impl->bodyBytes += n;
  return n;
}

size_t HttpClient::Impl::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* impl = static_cast<Impl*>(self);
  std::size_t n = size * count;
  std::string line = StripLineEnd(data, n);
  if (line.rfind("HTTP/", 0) == 0) {
    impl->statusLine = WithoutControls(line);  // a later one (after 100 Continue) replaces the first
    impl->headerBlockEnded = false;
    impl->ClearKeptHeaders();
  } else if (line.empty()) {
    impl->headerBlockEnded = true;
  } else {
    impl->KeepHeader(line);
  }
  return n;
}

void HttpClient::Impl::ClearKeptHeaders() {
  retryAfter.clear();
  etag.clear();
  lastModified.clear();
}

// Keeps the value of the headers the callers read; the first of repeated ones wins.
void HttpClient::Impl::KeepHeader(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  const std::string name = line.substr(0, colon);
  size_t start = colon + 1;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  for (auto [header, kept] : {std::pair{"Retry-After", &retryAfter}, std::pair{"ETag", &etag},
                              std::pair{"Last-Modified", &lastModified}}) {
    if (kept->empty() && curl_strequal(name.c_str(), header)) *kept = WithoutControls(line.substr(start));
  }
}

// Counts the request header blocks that go out, so that libcurl's own repeats are seen.
int HttpClient::Impl::OnDebug(CURL*, curl_infotype type, char*, size_t, void* self) {
  if (type == CURLINFO_HEADER_OUT) ++static_cast<Impl*>(self)->requestsSent;
  return 0;
}

int HttpClient::Impl::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Impl*>(self)->aborted.load() ? 1 : 0;
}

void HttpClient::Impl::SetOptions(const std::string& url, curl_slist* headerList) {
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  // HTTPS: the server's certificate and host name are verified against the system's
  // certificate store, or against the file QUILLMERE_CA_FILE names (a private authority).
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (const char* caFile = std::getenv("QUILLMERE_CA_FILE"); caFile && *caFile) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, caFile);
  }
  errorDetail[0] = '\0';
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorDetail);
  // Always set, or libcurl would take a proxy from the environment.
  curl_easy_setopt(curl, CURLOPT_PROXY, useProxy ? proxy.host.c_str() : "");
  curl_easy_setopt(curl, CURLOPT_PROXYPORT, useProxy ? static_cast<long>(proxy.port) : 0L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
  if (useProxy && !proxy.username.empty()) {
    curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxy.username.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxy.password.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeout);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallTimeout);
  const std::chrono::milliseconds limit = std::chrono::seconds(requestTimeLimit);
  const bool shorter = attemptLimit.count() > 0 && attemptLimit < limit;
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>((shorter ? attemptLimit : limit).count()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Impl::OnDebug);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);  // the debug function replaces any printing
}

std::string HttpClient::Impl::SocketFailure(CURLcode code) const {
  long err = 0;
  curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &err);
  switch (code) {
    case CURLE_COULDNT_CONNECT: return SocketErrorText(FromErrno(err, kRefused));
    case CURLE_INTERFACE_FAILED: return SocketErrorText(FromErrno(err, kAddressInUse));
    default: return SocketErrorText(FromErrno(err, kReset));
  }
}

// The failure of a secure connection, with libcurl's detail when it holds none of the numbers
// that the tile fetch reads as statuses or socket errors.
std::string HttpClient::Impl::TlsFailureText(CURLcode code) const {
  // The detail may quote the server's certificate.
  std::string detail = errorDetail[0] ? WithoutControls(errorDetail) : curl_easy_strerror(code);
  for (const char* number : {"302", "400", "403", "404", "10048", "10054"}) {
    if (detail.find(number) != std::string::npos) detail = curl_easy_strerror(code);
  }
  return "Secure connection failed, the server's certificate could not be verified or the TLS handshake failed: " +
         detail;
}

HttpResult HttpClient::Impl::Outcome(CURLcode code) {
  switch (code) {
    case CURLE_OK: break;
    case CURLE_ABORTED_BY_CALLBACK: return {false, kAborted};
    case CURLE_WRITE_ERROR:
      return {false, bodyTooLarge ? kBodyTooLarge : curl_easy_strerror(code)};
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return {false, SocketErrorText(kHostNotFound)};
    case CURLE_OPERATION_TIMEDOUT: return {false, SocketErrorText(kTimedOut)};
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE: return {false, kClosedGracefully};
    // Only for these codes does libcurl leave this request's errno behind.
    case CURLE_COULDNT_CONNECT:
    case CURLE_INTERFACE_FAILED:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR: return {false, SocketFailure(code)};
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return {false, TlsFailureText(code)};
    default: return {false, curl_easy_strerror(code)};
  }
  if (!headerBlockEnded) return {false, kClosedGracefully};
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  HttpResult result;
  result.ok = status >= 200 && status < 300;
  if (!result.ok) result.message = statusLine.empty() ? "HTTP/1.1 " + std::to_string(status) : statusLine;
  result.status = static_cast<int>(status);
  result.retryAfter = retryAfter;
  result.etag = etag;
  result.lastModified = lastModified;
  return result;
}

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {
  HttpGlobalInit();
  impl_->curl = curl_easy_init();
}

HttpClient::~HttpClient() {
  if (impl_->curl != nullptr) curl_easy_cleanup(impl_->curl);
}

void HttpClient::SetProxy(const ProxySettings& proxy) {
  impl_->useProxy = true;
  impl_->proxy = proxy;
}

void HttpClient::SetTimeouts(long connectSeconds, long stallSeconds, long requestSeconds) {
  impl_->connectTimeout = connectSeconds;
  impl_->stallTimeout = stallSeconds;
  impl_->requestTimeLimit = requestSeconds;
}

void HttpClient::SetHeaders(std::vector<std::pair<std::string, std::string>> headers) {
  impl_->headers = std::move(headers);
}

HttpResult HttpClient::Get(const std::string& url, std::string& body) {
  return Get(url, body, std::chrono::milliseconds{0});
}

HttpResult HttpClient::Get(const std::string& url, std::string& body, std::chrono::milliseconds timeLimit) {
  if (impl_->aborted.load()) return {false, kAborted};
  if (impl_->curl == nullptr) return {false, "The HTTP client could not be created."};

  curl_slist* headerList = nullptr;
  for (const auto& [name, value] : impl_->headers) {
    std::string cleanValue = WithoutLineBreaks(value);
    // "Name;" is libcurl's way of sending a header with an empty value.
    std::string line = WithoutLineBreaks(name) + (cleanValue.empty() ? ";" : ": " + cleanValue);
    headerList = curl_slist_append(headerList, line.c_str());
  }

  // Resetting before every request keeps the live connection and clears libcurl's count of
  // silent repeats on reused connections, which otherwise fails a long-lived handle.
  curl_easy_reset(impl_->curl);
  impl_->body = &body;
  impl_->bodyBytes = 0;
  impl_->bodyTooLarge = false;
  impl_->statusLine.clear();
  impl_->headerBlockEnded = false;
  impl_->ClearKeptHeaders();
  impl_->requestsSent = 0;
  impl_->attemptLimit = timeLimit;
  impl_->SetOptions(url, headerList);
  const auto start = std::chrono::steady_clock::now();
  CURLcode code = curl_easy_perform(impl_->curl);
  curl_slist_free_all(headerList);
  impl_->body = nullptr;
  HttpResult result = impl_->Outcome(code);
  result.silentRepeats = std::max(0, impl_->requestsSent - 1);
  result.elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  return result;
}

void HttpClient::Abort() { impl_->aborted.store(true); }

void HttpGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::signal(SIGPIPE, SIG_IGN);
  });
}

}  // namespace qm
