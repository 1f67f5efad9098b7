// Decoding a stored tile the way the combiner does, so both agree on what is damaged.
#include "verify/tile_check.h"

#include <gdal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "download/tile_judge.h"
#include "platform/file_ops.h"

#include "engine/image_signature.h"
#include "mosaic/tile_pixels.h"

TileCheck CheckTileFile(const std::string& path) {
  std::string bytes;
  switch (ReadTileFile(path, bytes)) {
    case TileFileState::kMissing: return TileCheck::kMissing;
    case TileFileState::kNoTile: return TileCheck::kNotImage;
    case TileFileState::kUnreadable: return TileCheck::kDamaged;
    case TileFileState::kRead: break;
  }
  return CheckTileBytes(bytes);
}

TileCheck CheckTileBytes(const std::string& bytes) {
  if (!LooksLikeImage(bytes)) return TileCheck::kNotImage;
  std::vector<uint8_t> rgba;
  return DecodeTile(bytes, rgba) ? TileCheck::kSound : TileCheck::kDamaged;
}

namespace {

bool ReadExactly(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t got = ::read(fd, data, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

TileVerdict VerdictOf(TileCheck check) {
  switch (check) {
    case TileCheck::kSound: return TileVerdict::kSound;
    case TileCheck::kNotImage: return TileVerdict::kNotImage;
    default: return TileVerdict::kDamaged;
  }
}

}  // namespace

bool ServeTileJudgements(int in, int out) {
  GDALAllRegister();  // the decoders of every image format but JPEG, which is decoded on its own
  std::string bytes;
  for (char length[8]; ReadExactly(in, length, sizeof length);) {
    uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(length[i]);
    // Larger than a stored tile may be: no tile, and not read into memory.
    if (size > kMaxTileFileBytes) return false;
    bytes.resize(size);
    if (!ReadExactly(in, bytes.data(), bytes.size())) return false;
    const char verdict = static_cast<char>(kVerdictBase + static_cast<int>(VerdictOf(CheckTileBytes(bytes))));
    if (!qm::WriteAll(out, std::string_view(&verdict, 1))) return false;
  }
  return true;
}

const char* TileCheckText(TileCheck check) {
  switch (check) {
    case TileCheck::kSound:
      return "sound";
    case TileCheck::kMissing:
      return "missing";
    case TileCheck::kNotImage:
      return "not an image";
    case TileCheck::kDamaged:
      return "damaged";
  }
  return "";
}
