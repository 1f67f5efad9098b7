// Where the server's tiles come from: rendered from a world image, or a download's tile folder.
#pragma once

#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>

#include "demo/jpeg_codec.h"
#include "platform/regular_file.h"
#include "demo/tile_cache.h"
#include "demo/tile_request.h"

// A tile's JPEG: bytes in memory, or a file to answer from; neither when there is no such tile.
struct TileBody {
  TileCache::Bytes bytes;
  OpenedFile file;
  std::time_t modified = 0;  // when this version of the tile came to be: its Last-Modified
  bool Empty() const { return !bytes && !file.IsOpen(); }
};

// A tile that cannot be read now, though it may be there: the client is asked to try again.
class TileUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TileProvider {
 public:
  virtual ~TileProvider() = default;
  virtual TileBody Tile(const TileKey& key) = 0;
  // What the start message says is served.
  virtual std::string Description() const = 0;
  // Files an answer keeps open while it is sent, beside its connection's socket.
  virtual unsigned FilesPerAnswer() const { return 0; }
};

// Tiles reprojected from an equirectangular world image, kept in a bounded cache once rendered.
class RenderedTiles : public TileProvider {
 public:
  static constexpr uint64_t kMaxImageBytes = uint64_t{512} << 20;

  // Throws JpegError, or std::runtime_error when the image is no regular file of at most
  // kMaxImageBytes.
  RenderedTiles(const std::string& imageFile, size_t cacheBytes);
  TileBody Tile(const TileKey& key) override;
  std::string Description() const override;

 private:
  std::string imageFile_;
  std::time_t imageTime_ = 0;  // every tile is as new as the image it is rendered from
  RgbImage world_;
  TileCache cache_;
};

// The kv_X_Y_Z.jpg files of a tile folder, byte for byte: regular files of at most
// kMaxTileBytes only, never links, so nothing outside the folder is served. Throws
// TileUnavailable when no file descriptor is left to open one.
class FolderTiles : public TileProvider {
 public:
  static constexpr uint64_t kMaxTileBytes = uint64_t{16} << 20;

  // Throws std::runtime_error when the folder cannot be opened.
  explicit FolderTiles(std::string folder);
  ~FolderTiles() override;
  FolderTiles(const FolderTiles&) = delete;
  FolderTiles& operator=(const FolderTiles&) = delete;
  TileBody Tile(const TileKey& key) override;
  std::string Description() const override;
  unsigned FilesPerAnswer() const override { return 1; }

 private:
  std::string folder_;
  int folderFd_ = -1;
};
