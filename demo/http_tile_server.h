// An HTTP/1.1 server (libmicrohttpd, keep-alive, a pool of threads) that answers tile URLs.
#pragma once

#include <cstdint>
#include <string>

#include "demo/tile_provider.h"

struct MHD_Daemon;

class HttpTileServer {
 public:
  // Listens on bind:port (port 0 picks a free one); throws std::runtime_error when it cannot.
  HttpTileServer(TileProvider& provider, const std::string& bind, uint16_t port);
  ~HttpTileServer();
  HttpTileServer(const HttpTileServer&) = delete;
  HttpTileServer& operator=(const HttpTileServer&) = delete;

  uint16_t Port() const { return port_; }

 private:
  TileProvider& provider_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
};
