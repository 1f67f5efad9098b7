// Request handling: GET or HEAD of a tile URL gets the tile's JPEG; anything else an error page.
// libmicrohttpd answers malformed requests with 400 by itself.
#include "demo/http_tile_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

MHD_Result Queue(MHD_Connection* connection, unsigned status, const std::string& body, const char* type) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  const MHD_Result result = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return result;
}

MHD_Result QueueError(MHD_Connection* connection, unsigned status, const char* text) {
  return Queue(connection, status, std::string(text) + "\n", "text/plain");
}

// The tile's bytes stay alive through the response by a reference held until it is freed.
MHD_Result QueueTile(MHD_Connection* connection, TileCache::Bytes bytes) {
  auto* holder = new TileCache::Bytes(std::move(bytes));
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      (*holder)->size(), const_cast<char*>((*holder)->data()), [](void* cls) { delete static_cast<TileCache::Bytes*>(cls); },
      holder);
  if (response == nullptr) {
    delete holder;
    return MHD_NO;
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "image/jpeg");
  const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return result;
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
  if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
    return QueueError(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET is served here.");
  }
  const std::optional<TileKey> key = ParseTileRequest(url);
  if (!key) return QueueError(connection, MHD_HTTP_NOT_FOUND, "Not a tile of the grid.");
  TileCache::Bytes bytes;
  try {
    bytes = static_cast<TileProvider*>(cls)->Tile(*key);
  } catch (const std::exception& e) {
    return QueueError(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, e.what());
  }
  if (!bytes) return QueueError(connection, MHD_HTTP_NOT_FOUND, "No such tile.");
  return QueueTile(connection, std::move(bytes));
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

HttpTileServer::HttpTileServer(TileProvider& provider, const std::string& bind, uint16_t port, const TlsIdentity* tls)
    : provider_(provider) {
  const sockaddr_in address = BindAddress(bind, port);
  const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
  const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
  if (tls == nullptr) {
    daemon_ = MHD_start_daemon(flags, port, nullptr, nullptr, &Answer, &provider_, MHD_OPTION_SOCK_ADDR, &address,
                               MHD_OPTION_THREAD_POOL_SIZE, threads, MHD_OPTION_CONNECTION_TIMEOUT, 120u,
                               MHD_OPTION_END);
  } else {
    if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
      throw std::runtime_error("this build of libmicrohttpd has no TLS support, so --tls cannot be used");
    }
    daemon_ = MHD_start_daemon(flags | MHD_USE_TLS, port, nullptr, nullptr, &Answer, &provider_, MHD_OPTION_SOCK_ADDR,
                               &address, MHD_OPTION_THREAD_POOL_SIZE, threads, MHD_OPTION_CONNECTION_TIMEOUT, 120u,
                               MHD_OPTION_HTTPS_MEM_CERT, tls->certificate.c_str(), MHD_OPTION_HTTPS_MEM_KEY,
                               tls->key.c_str(), MHD_OPTION_END);
    if (daemon_ == nullptr) {
      throw std::runtime_error("Cannot listen on " + bind + ":" + std::to_string(port) +
                               " over HTTPS (in use, or the certificate and key are not a PEM pair)");
    }
  }
  if (daemon_ == nullptr) {
    throw std::runtime_error("Cannot listen on " + bind + ":" + std::to_string(port) +
                             " (in use, or not an address of this machine)");
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : port;
}

HttpTileServer::~HttpTileServer() { MHD_stop_daemon(daemon_); }
