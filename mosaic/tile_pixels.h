// One tile of a mosaic: its bytes as downloaded, what it holds, and its pixels as RGBA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mosaic/mosaic_source.h"

enum class TileState { kPresent, kMissing, kBlank, kUndecodable };

struct MosaicTile {
  TileState state = TileState::kMissing;
  std::string bytes;            // the file's bytes (empty when missing)
  std::vector<uint8_t> rgba;    // 256 x 256 x 4 when decoded
  int bands = 0;                // the image's own bands when decoded (1 for grey or a palette)
};

inline constexpr int kMosaicTilePixels = 256;

// Reads tiles of a source; the blank tile's bytes mark tiles that a failed fetch replaced.
class TileLoader {
 public:
  TileLoader(const MosaicSource& source, std::string blankBytes)
      : source_(source), blankBytes_(std::move(blankBytes)) {}
  // A tile that does not decode cleanly as a 256 x 256 image is kUndecodable.
  MosaicTile Load(int32_t x, int32_t y) const;

 private:
  const MosaicSource& source_;
  std::string blankBytes_;
};

// Decodes image bytes (JPEG, PNG, palette or grey included) into 256 x 256 RGBA; false when the
// bytes are no such image, or the decoder warned of damage (a file cut short, corrupt data).
bool DecodeTile(const std::string& bytes, std::vector<uint8_t>& rgba, int* bands = nullptr);
