// Request handling: GET or HEAD of a tile URL gets the tile's JPEG; anything else an error page.
// libmicrohttpd answers malformed requests with 400 by itself.
#include "demo/http_tile_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <stdexcept>
#include <thread>

#include "platform/http_date.h"

namespace {

// TLS 1.2 and 1.3 only, with key exchanges that keep past sessions secret (ephemeral
// elliptic-curve Diffie-Hellman) and authenticated ciphers.
constexpr const char* kTlsPriorities =
    "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-KX-ALL:+ECDHE-ECDSA:+ECDHE-RSA:"
    "-CIPHER-ALL:+AES-256-GCM:+AES-128-GCM:+CHACHA20-POLY1305";
// Descriptors kept free beside the connections and their answers' files: listening socket,
// wake-up pipes, the tile folder.
constexpr unsigned kSpareDescriptors = 64;

MHD_Result Queue(MHD_Connection* connection, unsigned status, const std::string& body, const char* type,
                 const char* retryAfter = nullptr) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  if (retryAfter != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, retryAfter);
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result QueueError(MHD_Connection* connection, unsigned status, const char* text, const char* retryAfter = nullptr) {
  return Queue(connection, status, std::string(text) + "\n", "text/plain", retryAfter);
}

// A tile's version: an ETag that changes with its bytes' time and size, and its Last-Modified.
struct TileVersion {
  std::string etag;
  std::string lastModified;
};

TileVersion VersionOf(const TileKey& key, const TileBody& body) {
  const uint64_t size = body.file.IsOpen() ? body.file.Size() : (*body.bytes).size();
  return {"\"" + std::to_string(key.zoom) + "-" + std::to_string(key.x) + "-" + std::to_string(key.y) + "-" +
              std::to_string(body.modified) + "-" + std::to_string(size) + "\"",
          qm::HttpDate(body.modified)};
}

// Whether the client's conditions say it holds this version: If-None-Match when it is sent,
// otherwise If-Modified-Since.
bool NotModified(MHD_Connection* connection, const TileVersion& version, std::time_t modified) {
  if (const char* tags = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH)) {
    return version.etag == tags;
  }
  const char* since = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_MODIFIED_SINCE);
  const std::optional<std::time_t> sinceTime = since != nullptr ? qm::ParseHttpDate(since) : std::nullopt;
  return modified > 0 && sinceTime && modified <= *sinceTime;
}

MHD_Result QueueJpeg(MHD_Connection* connection, MHD_Response* response, const TileVersion& version,
                     unsigned status = MHD_HTTP_OK) {
  if (response == nullptr) return MHD_NO;
  if (status == MHD_HTTP_OK) MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "image/jpeg");
  MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, version.etag.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED, version.lastModified.c_str());
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

// Bytes in memory stay alive through the response by a reference held until it is freed; a
// file is sent from its descriptor, which the response closes.
// A client that holds this version gets 304 without a body.
MHD_Result QueueTile(MHD_Connection* connection, const TileKey& key, TileBody body) {
  const TileVersion version = VersionOf(key, body);
  if (NotModified(connection, version, body.modified)) {
    return QueueJpeg(connection, MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT), version,
                     MHD_HTTP_NOT_MODIFIED);
  }
  if (body.file.IsOpen()) {
    MHD_Response* response = MHD_create_response_from_fd(body.file.Size(), body.file.Fd());
    if (response != nullptr) body.file.Release();
    return QueueJpeg(connection, response, version);
  }
  auto* holder = new TileCache::Bytes(std::move(body.bytes));
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      (*holder)->size(), const_cast<char*>((*holder)->data()), [](void* cls) { delete static_cast<TileCache::Bytes*>(cls); },
      holder);
  if (response == nullptr) delete holder;
  return QueueJpeg(connection, response, version);
}

// The query's arguments with their names in lower case: WMS names are not case-sensitive.
std::map<std::string, std::string> QueryArguments(MHD_Connection* connection) {
  std::map<std::string, std::string> arguments;
  MHD_get_connection_values(
      connection, MHD_GET_ARGUMENT_KIND,
      [](void* cls, MHD_ValueKind, const char* key, const char* value) {
        std::string name(key);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        static_cast<std::map<std::string, std::string>*>(cls)->emplace(std::move(name), value != nullptr ? value : "");
        return MHD_YES;
      },
      &arguments);
  return arguments;
}

MHD_Result AnswerRequest(TileProvider& provider, MHD_Connection* connection, const char* url, const char* method) {
  if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
    return QueueError(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET is served here.");
  }
  std::optional<TileKey> key;
  if (url == kWmsPath) {
    const WmsAnswer wms = ParseWmsRequest(QueryArguments(connection));
    if (!wms.tile) return QueueError(connection, MHD_HTTP_BAD_REQUEST, wms.problem.c_str());
    key = wms.tile;
  } else {
    key = ParseTileRequest(url);
    if (!key) key = ParseTmsRequest(url);
    if (!key) key = ParseQuadkeyRequest(url);
  }
  if (!key) return QueueError(connection, MHD_HTTP_NOT_FOUND, "Not a tile of the grid.");
  TileBody body;
  try {
    body = provider.Tile(*key);
  } catch (const TileUnavailable& e) {
    return QueueError(connection, MHD_HTTP_SERVICE_UNAVAILABLE, e.what(), "1");  // asked again a second later
  } catch (const std::exception& e) {
    return QueueError(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, e.what());
  }
  if (body.Empty()) return QueueError(connection, MHD_HTTP_NOT_FOUND, "No such tile.");
  return QueueTile(connection, *key, std::move(body));
}

ConnectionRegistry::Connection* RecordOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return static_cast<ConnectionRegistry::Connection*>(info->socket_context);
}

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, size_t* uploadSize, void** state) {
  // The first call only announces the request; a body, if any, is read and dropped.
  if (*state == nullptr) {
    *state = connection;
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;
    return MHD_YES;
  }
  auto* service = static_cast<TileService*>(cls);
  if (auto* record = RecordOf(connection)) service->connections.Answering(record);
  // Nothing may leave a callback of the C library as an exception: out of memory, the
  // connection is dropped instead.
  try {
    return AnswerRequest(service->tiles, connection, url, method);
  } catch (const std::exception&) {
    return MHD_NO;
  }
}

// Out of memory, a connection stays out of the registry: never taken, and not counted.
void Answered(void* cls, MHD_Connection* connection, void** /*state*/, MHD_RequestTerminationCode /*how*/) {
  auto* record = RecordOf(connection);
  try {
    if (record != nullptr) static_cast<ConnectionRegistry*>(cls)->Answered(record);
  } catch (const std::bad_alloc&) {
  }
}

MHD_Result Admit(void* cls, const sockaddr* /*address*/, socklen_t /*length*/) {
  return static_cast<ConnectionRegistry*>(cls)->MakeRoom() ? MHD_YES : MHD_NO;
}

void Track(void* cls, MHD_Connection* connection, void** record, MHD_ConnectionNotificationCode what) {
  auto* connections = static_cast<ConnectionRegistry*>(cls);
  if (what == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    try {
      *record = connections->Opened(info->connect_fd);
    } catch (const std::bad_alloc&) {
      *record = nullptr;
    }
  } else if (what == MHD_CONNECTION_NOTIFY_CLOSED && *record != nullptr) {
    connections->Closed(static_cast<ConnectionRegistry::Connection*>(*record));
    *record = nullptr;
  }
}

// At most as many connections as there are descriptors to spare for them, `each` needing that
// many, so that every connection admitted can be answered.
unsigned FittingConnections(unsigned wanted, unsigned each) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return wanted;
  const rlim_t spare = files.rlim_cur > 2 * kSpareDescriptors ? files.rlim_cur - kSpareDescriptors : files.rlim_cur / 2;
  return static_cast<unsigned>(std::min<rlim_t>(wanted, spare / each));
}

sockaddr_in BindAddress(const std::string& bind, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, bind.c_str(), &address.sin_addr) != 1) {
    throw std::runtime_error("--bind needs an IPv4 address such as 127.0.0.1, not \"" + bind + "\"");
  }
  return address;
}

}  // namespace

HttpTileServer::HttpTileServer(TileProvider& provider, const std::string& bind, uint16_t port, const TlsIdentity* tls,
                               ConnectionLimits limits)
    : service_{provider, ConnectionRegistry(std::max(
                             1u, FittingConnections(limits.maxConnections, 1 + provider.FilesPerAnswer())))} {
  const sockaddr_in address = BindAddress(bind, port);
  const unsigned threads = limits.threads != 0 ? limits.threads : std::max(2u, std::thread::hardware_concurrency());
  // poll(), not epoll: when one epoll wait of libmicrohttpd returns a full batch of 128 ready
  // sockets, it waits again, up to the nearest connection timeout, before serving that batch;
  // with every client waiting for its answer nothing ends that wait.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
  if (tls != nullptr && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
    throw std::runtime_error("this build of libmicrohttpd has no TLS support, so --tls cannot be used");
  }
  if (tls != nullptr) flags |= MHD_USE_TLS;
  // libmicrohttpd's own limit, shared out among the threads, stays above ours so that it keeps
  // accepting while the connections our policy shut down to make room are being closed.
  const unsigned libraryLimit = service_.connections.Max() + 16 * threads;
  MHD_OptionItem tlsOptions[] = {
      {MHD_OPTION_HTTPS_MEM_CERT, 0, tls != nullptr ? const_cast<char*>(tls->certificate.c_str()) : nullptr},
      {MHD_OPTION_HTTPS_MEM_KEY, 0, tls != nullptr ? const_cast<char*>(tls->key.c_str()) : nullptr},
      {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(kTlsPriorities)},
      {MHD_OPTION_END, 0, nullptr}};
  ConnectionRegistry* connections = &service_.connections;
  daemon_ = MHD_start_daemon(flags, port, &Admit, connections, &Answer, &service_, MHD_OPTION_SOCK_ADDR, &address,
                             MHD_OPTION_THREAD_POOL_SIZE, threads, MHD_OPTION_CONNECTION_TIMEOUT, limits.idleSeconds,
                             MHD_OPTION_CONNECTION_LIMIT, libraryLimit, MHD_OPTION_NOTIFY_CONNECTION, &Track,
                             connections, MHD_OPTION_NOTIFY_COMPLETED, &Answered, connections, MHD_OPTION_ARRAY,
                             tls != nullptr ? tlsOptions : tlsOptions + 3, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    throw std::runtime_error("Cannot listen on " + bind + ":" + std::to_string(port) +
                             (tls != nullptr ? " over HTTPS (in use, or the certificate and key are not a PEM pair)"
                                             : " (in use, or not an address of this machine)"));
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : port;
}

HttpTileServer::~HttpTileServer() { MHD_stop_daemon(daemon_); }
