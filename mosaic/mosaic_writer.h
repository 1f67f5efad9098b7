// Writing one georeferenced map from a downloaded area, in one of five formats, with memory
// bounded by one row of tiles. The result appears under its name only once it is complete.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mosaic/mosaic_source.h"

enum class MosaicFormat { kGTiff, kVrt, kMBTiles, kPng, kJpeg };
std::optional<MosaicFormat> MosaicFormatNamed(std::string_view name);  // gtiff|vrt|mbtiles|png|jpeg

struct MosaicOptions {
  MosaicFormat format = MosaicFormat::kGTiff;
  bool transparentFill = true;                     // where the format allows it
  std::array<uint8_t, 3> fillColor{255, 255, 255};  // otherwise, and for --fill #RRGGBB
  std::string blankTileFile;                       // the program's blank tile: such tiles count as blank
};

// Parses "transparent" or "#RRGGBB" into the options; false for anything else.
bool ParseFill(std::string_view text, MosaicOptions& options);

struct MosaicReport {
  int64_t tiles = 0;
  int64_t missing = 0;
  int64_t blank = 0;
  int64_t undecodable = 0;
  std::string missingList;  // <output>.missing.txt, empty when every tile was there
  int64_t Filled() const { return missing + blank + undecodable; }
};

// Called after each tile with the tiles done and the total; false cancels the run.
using MosaicProgress = std::function<bool(int64_t done, int64_t total)>;

// PNG and JPEG are refused beyond this many pixels (they would not open comfortably).
inline constexpr int64_t kMaxSingleImagePixels = int64_t{16384} * 16384;

// Throws MosaicError (also when cancelled: "Cancelled."); nothing is left under output then.
MosaicReport WriteMosaic(const MosaicSource& source, const std::string& output, const MosaicOptions& options,
                         const MosaicProgress& progress = nullptr);
