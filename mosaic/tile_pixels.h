// One tile of a mosaic: its bytes as downloaded, what it holds, and its pixels as RGBA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mosaic/mosaic_source.h"

// kOutside: outside the shape of the area, never downloaded; left empty, and not missing.
enum class TileState { kPresent, kMissing, kBlank, kUndecodable, kOutside };

struct MosaicTile {
  TileState state = TileState::kMissing;
  std::string bytes;            // the file's bytes (empty when missing)
  std::vector<uint8_t> rgba;    // 256 x 256 x 4 when decoded, 128 x 128 x 4 when halved
  int bands = 0;                // the image's own bands when decoded (1 for grey or a palette)
};

inline constexpr int kMosaicTilePixels = 256;

// What the loader makes of a tile's bytes: all its pixels; its pixels halved (for the level
// above); or none, when only its bytes are used and it only has to be a whole image.
enum class TileDecoding { kPixels, kHalved, kChecked };

// Reads tiles of a source; the blank tile's bytes mark tiles that a failed fetch replaced.
class TileLoader {
 public:
  TileLoader(const MosaicSource& source, std::string blankBytes, TileDecoding decoding = TileDecoding::kPixels)
      : source_(source), blankBytes_(std::move(blankBytes)), decoding_(decoding) {}
  // A tile that does not decode cleanly as a 256 x 256 image is kUndecodable; when only checked,
  // one that is not whole by its structure is decoded to be sure.
  MosaicTile Load(int32_t x, int32_t y) const;

 private:
  const MosaicSource& source_;
  std::string blankBytes_;
  TileDecoding decoding_;
};

// Decodes image bytes (JPEG, PNG, palette or grey included) into 256 x 256 RGBA; false when the
// bytes are no such image, or the decoder warned of damage (a file cut short, corrupt data).
bool DecodeTile(const std::string& bytes, std::vector<uint8_t>& rgba, int* bands = nullptr);
// The same, halved to 128 x 128 RGBA; a JPEG is decoded at half its size straight away.
bool DecodeHalvedTile(const std::string& bytes, std::vector<uint8_t>& rgba);
// True when the bytes are a whole 256 x 256 JPEG or PNG by its markers or chunks: its size given,
// and its end there. False says nothing: only a decoder can tell then.
bool LooksWhole(const std::string& bytes);
