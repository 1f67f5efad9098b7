// An HTTP/1.1 server (libmicrohttpd, keep-alive, a pool of threads) that answers tile URLs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "demo/tile_provider.h"

struct MHD_Daemon;

// A certificate and its private key, both PEM, for answering over HTTPS.
struct TlsIdentity {
  std::string certificate;
  std::string key;
};

// How long a connection may stay silent, and how many connections are served at once; a
// connection beyond that number is closed at once, so it fails fast instead of waiting.
struct ConnectionLimits {
  unsigned idleSeconds = 15;
  unsigned maxConnections = 1024;
};

// The connections open now, against the most that are served at once.
struct ConnectionCount {
  unsigned max = 0;
  std::atomic<unsigned> open{0};
};

class HttpTileServer {
 public:
  // Listens on bind:port (port 0 picks a free one), over HTTPS when tls is given; throws
  // std::runtime_error when it cannot. maxConnections is lowered to fit the process's limit
  // of open files.
  HttpTileServer(TileProvider& provider, const std::string& bind, uint16_t port, const TlsIdentity* tls = nullptr,
                 ConnectionLimits limits = {});
  ~HttpTileServer();
  HttpTileServer(const HttpTileServer&) = delete;
  HttpTileServer& operator=(const HttpTileServer&) = delete;

  uint16_t Port() const { return port_; }

 private:
  TileProvider& provider_;
  ConnectionCount connections_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};
