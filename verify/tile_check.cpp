// Decoding a stored tile the way the combiner does, so both agree on what is damaged.
#include "verify/tile_check.h"

#include <vector>

#include "engine/image_signature.h"
#include "mosaic/tile_pixels.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {

// Far beyond any tile; a larger file is no tile of a download.
constexpr std::size_t kMaxTileBytes = 16u << 20;

}  // namespace

TileCheck CheckTileFile(const std::string& path) {
  std::string bytes;
  try {
    bytes = qm::ReadFileUpTo(path, kMaxTileBytes);
  } catch (const qm::FileTooLarge&) {
    return TileCheck::kNotImage;
  } catch (const qm::FileError&) {
    return qm::FileExists(path) ? TileCheck::kDamaged : TileCheck::kMissing;
  }
  if (!LooksLikeImage(bytes)) return TileCheck::kNotImage;
  std::vector<uint8_t> rgba;
  return DecodeTile(bytes, rgba) ? TileCheck::kSound : TileCheck::kDamaged;
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
