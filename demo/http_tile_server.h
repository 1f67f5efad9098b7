// An HTTP/1.1 server (libmicrohttpd, keep-alive, a pool of threads) that answers tile URLs.
#pragma once

#include <cstdint>
#include <string>

#include "demo/connection_registry.h"
#include "demo/tile_provider.h"

struct MHD_Daemon;

// A certificate and its private key, both PEM, for answering over HTTPS.
struct TlsIdentity {
  std::string certificate;
  std::string key;
};

// How long a connection may stay silent, how many connections are served at once (a new
// connection beyond that number takes the place of the one idle the longest), and how many
// threads serve them (0: one per core, at least two).
struct ConnectionLimits {
  unsigned idleSeconds = 15;
  unsigned maxConnections = 1024;
  unsigned threads = 0;
};

// What the server's callbacks reach: the tiles and the open connections.
struct TileService {
  TileProvider& tiles;
  ConnectionRegistry connections;
};

class HttpTileServer {
 public:
  // Listens on bind:port (port 0 picks a free one), over HTTPS when tls is given; throws
  // std::runtime_error when it cannot. maxConnections is lowered to fit the process's limit
  // of open files, with room for each connection's socket and the file its answer is sent from.
  HttpTileServer(TileProvider& provider, const std::string& bind, uint16_t port, const TlsIdentity* tls = nullptr,
                 ConnectionLimits limits = {});
  ~HttpTileServer();
  HttpTileServer(const HttpTileServer&) = delete;
  HttpTileServer& operator=(const HttpTileServer&) = delete;

  uint16_t Port() const { return port_; }

 private:
  TileService service_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};
