// The two tile providers.
#include "demo/tile_provider.h"

#include "demo/tile_renderer.h"
#include "engine/tile_source.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {
constexpr int kJpegQuality = 85;
}

RenderedTiles::RenderedTiles(const std::string& imageFile, size_t cacheBytes)
    : imageFile_(imageFile), world_(DecodeJpeg(qm::ReadWholeFile(imageFile))), cache_(cacheBytes) {}

TileCache::Bytes RenderedTiles::Tile(const TileKey& key) {
  if (TileCache::Bytes cached = cache_.Find(key)) return cached;
  auto bytes = std::make_shared<const std::string>(EncodeJpeg(RenderTile(world_, key), kJpegQuality));
  cache_.Store(key, bytes);
  return bytes;
}

std::string RenderedTiles::Description() const {
  return "tiles of " + imageFile_ + " (" + std::to_string(world_.width) + "x" + std::to_string(world_.height) + ")";
}

FolderTiles::FolderTiles(std::string folder) : folder_(qm::WithTrailingSeparator(folder)) {}

TileCache::Bytes FolderTiles::Tile(const TileKey& key) {
  const std::string file = folder_ + SatelliteTileFileName(key.zoom, key.x, key.y);
  if (!qm::FileExists(file)) return nullptr;
  try {
    return std::make_shared<const std::string>(qm::ReadWholeFile(file));
  } catch (const qm::FileError&) {
    return nullptr;
  }
}

std::string FolderTiles::Description() const { return "the tile files of " + folder_; }
