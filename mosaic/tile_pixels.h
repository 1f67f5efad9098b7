// One tile of a mosaic: its bytes as downloaded, what it holds, and its pixels as RGBA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mosaic/mosaic_source.h"

// kOutside: outside the shape of the area, never downloaded; left empty, and not missing.
enum class TileState { kPresent, kMissing, kBlank, kUndecodable, kOutside };

// What a decoded image held: its own bands (1 for grey or a palette, 2 for grey with alpha), and
// whether its samples were bytes that can be read as they are (not 16 bits, nor 1 bit, scaled).
struct ImageForm {
  int bands = 0;
  bool eightBit = true;
};

struct MosaicTile {
  TileState state = TileState::kMissing;
  std::string bytes;            // the file's bytes (empty when missing)
  std::vector<uint8_t> rgba;    // 256 x 256 x 4 when decoded, 128 x 128 x 4 when halved
  ImageForm form;               // when decoded
};

// A stored tile is read only from a regular file (links followed) of at most this size: a
// device, a FIFO, a folder, an endless or a huge file is no tile, and is never read.
inline constexpr uint64_t kMaxTileFileBytes = uint64_t{16} << 20;
enum class TileFileState { kRead, kMissing, kNoTile, kUnreadable };
// The tile file's bytes when kRead; bytes are left as they are otherwise.
TileFileState ReadTileFile(const std::string& path, std::string& bytes);

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

// Decodes image bytes (JPEG, PNG, GIF or WebP; palette, grey, 16-bit samples and CMYK included)
// into 256 x 256 RGBA of 8 bits a sample; false when the bytes are no such image, or the decoder
// warned of damage (a file cut short, corrupt data).
bool DecodeTile(const std::string& bytes, std::vector<uint8_t>& rgba, ImageForm* form = nullptr);
// The same, halved to 128 x 128 RGBA; a JPEG is decoded at half its size straight away.
bool DecodeHalvedTile(const std::string& bytes, std::vector<uint8_t>& rgba);
// True when the bytes are a whole 256 x 256 JPEG or PNG by its markers or chunks: its size given,
// and its end there. False says nothing: only a decoder can tell then.
bool LooksWhole(const std::string& bytes);
