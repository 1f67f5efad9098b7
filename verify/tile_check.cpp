// Decoding a stored tile the way the combiner does, so both agree on what is damaged.
#include "verify/tile_check.h"

#include <vector>

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
