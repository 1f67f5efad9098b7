// An HTTP/1.1 server (libmicrohttpd, keep-alive, a pool of threads) that answers tile URLs.
#pragma once

#include <cstdint>
#include <string>

#include "demo/tile_provider.h"

struct MHD_Daemon;

// A certificate and its private key, both PEM, for answering over HTTPS.
struct TlsIdentity {
  std::string certificate;
  std::string key;
};

class HttpTileServer {
 public:
  // Listens on bind:port (port 0 picks a free one), over HTTPS when tls is given; throws
  // std::runtime_error when it cannot.
  HttpTileServer(TileProvider& provider, const std::string& bind, uint16_t port, const TlsIdentity* tls = nullptr);
  ~HttpTileServer();
  HttpTileServer(const HttpTileServer&) = delete;
  HttpTileServer& operator=(const HttpTileServer&) = delete;

  uint16_t Port() const { return port_; }

 private:
  TileProvider& provider_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};
