// The two tile providers.
#include "demo/tile_provider.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "demo/tile_renderer.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"

namespace {
constexpr int kJpegQuality = 85;

std::time_t ModifiedTime(int fd) {
  struct stat info {};
  return fd >= 0 && fstat(fd, &info) == 0 ? info.st_mtim.tv_sec : 0;
}

std::time_t ModifiedTime(const std::string& file) {
  struct stat info {};
  return stat(file.c_str(), &info) == 0 ? info.st_mtim.tv_sec : 0;
}

}  // namespace

RenderedTiles::RenderedTiles(const std::string& imageFile, size_t cacheBytes)
    : imageFile_(imageFile), imageTime_(ModifiedTime(imageFile)), world_(DecodeJpeg(ReadSmallRegularFile(imageFile, kMaxImageBytes))), cache_(cacheBytes) {}

TileBody RenderedTiles::Tile(const TileKey& key) {
  if (TileCache::Bytes cached = cache_.Find(key)) return {cached, {}, imageTime_};
  auto bytes = std::make_shared<const std::string>(EncodeJpeg(RenderTile(world_, key), kJpegQuality));
  cache_.Store(key, bytes);
  return {bytes, {}, imageTime_};
}

std::string RenderedTiles::Description() const {
  return "tiles of " + imageFile_ + " (" + std::to_string(world_.width) + "x" + std::to_string(world_.height) + ")";
}

FolderTiles::FolderTiles(std::string folder)
    : folder_(qm::WithTrailingSeparator(folder)), folderFd_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (folderFd_ < 0) throw std::runtime_error("Cannot open the tile folder " + folder);
}

FolderTiles::~FolderTiles() { close(folderFd_); }

TileBody FolderTiles::Tile(const TileKey& key) {
  OpenRefusal refusal = OpenRefusal::kNone;
  OpenedFile file =
      OpenRegularFile(folderFd_, SatelliteTileFileName(key.zoom, key.x, key.y), Links::kRefuse, kMaxTileBytes, refusal);
  if (refusal == OpenRefusal::kNoDescriptor) throw TileUnavailable("Too many files are open; try again shortly.");
  const std::time_t modified = ModifiedTime(file.Fd());
  return {nullptr, std::move(file), modified};
}

std::string FolderTiles::Description() const { return "the tile files of " + folder_; }
