// Where the server's tiles come from: rendered from a world image, or a download's tile folder.
#pragma once

#include <memory>
#include <string>

#include "demo/jpeg_codec.h"
#include "demo/tile_cache.h"
#include "demo/tile_request.h"

class TileProvider {
 public:
  virtual ~TileProvider() = default;
  // The tile's JPEG bytes, or nullptr when there is no such tile.
  virtual TileCache::Bytes Tile(const TileKey& key) = 0;
  // What the start message says is served.
  virtual std::string Description() const = 0;
};

// Tiles reprojected from an equirectangular world image, kept in a bounded cache once rendered.
class RenderedTiles : public TileProvider {
 public:
  // Throws JpegError or FileError when the image cannot be read.
  RenderedTiles(const std::string& imageFile, size_t cacheBytes);
  TileCache::Bytes Tile(const TileKey& key) override;
  std::string Description() const override;

 private:
  std::string imageFile_;
  RgbImage world_;
  TileCache cache_;
};

// The kv_X_Y_Z.jpg files of a tile folder, byte for byte.
class FolderTiles : public TileProvider {
 public:
  explicit FolderTiles(std::string folder);
  TileCache::Bytes Tile(const TileKey& key) override;
  std::string Description() const override;

 private:
  std::string folder_;
};
