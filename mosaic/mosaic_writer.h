// Writing one georeferenced map or tile package from a downloaded area or a set of its levels,
// with memory bounded by a few rows of tiles (a bit per tile for a VRT). The result appears under
// its name only once it is complete and on disk.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mosaic/mosaic_source.h"

enum class MosaicFormat { kGTiff, kCog, kVrt, kMBTiles, kGpkg, kSqliteDb, kPng, kJpeg };
// gtiff|cog|vrt|mbtiles|gpkg|sqlitedb|png|jpeg
std::optional<MosaicFormat> MosaicFormatNamed(std::string_view name);
// The tile packages hold every level; the other formats draw the finest one.
bool IsTilePackage(MosaicFormat format);

enum class TiffCompression { kDeflate, kJpeg, kWebp };
std::optional<TiffCompression> TiffCompressionNamed(std::string_view name);  // deflate|jpeg|webp

struct MosaicOptions {
  MosaicFormat format = MosaicFormat::kGTiff;
  bool transparentFill = true;                     // where the format allows it
  std::array<uint8_t, 3> fillColor{255, 255, 255};  // otherwise, and for --fill #RRGGBB
  std::string blankTileFile;                       // the program's blank tile: such tiles count as blank
  int lowerZoom = -1;  // packages: levels made from this zoom up to the coarsest downloaded one
  TiffCompression compression = TiffCompression::kDeflate;  // gtiff and cog
};

// Parses "transparent" or "#RRGGBB" into the options; false for anything else.
bool ParseFill(std::string_view text, MosaicOptions& options);

struct MosaicReport {
  int64_t tiles = 0;  // inside the area: a shaped area's tiles outside it are not counted
  int64_t missing = 0;
  int64_t blank = 0;
  int64_t undecodable = 0;
  std::string missingList;  // <output>.missing.txt, empty when every tile was there
  // Tile packages: the zooms the file holds, those of them made from the tiles below (none when
  // madeMinZoom > madeMaxZoom), and the tiles it holds, made ones included (-1: not a package).
  int minZoom = 0, maxZoom = 0;
  int madeMinZoom = 0, madeMaxZoom = -1;
  int64_t packed = -1;
  int64_t reencoded = 0;  // downloaded tiles encoded anew into the package's one image format
  std::string packageFormat;
  std::vector<std::string> notes;  // how the map was written where the user might not expect it
  int64_t Filled() const { return missing + blank + undecodable; }
};

// The report as one line for the user: the tiles, those filled, and for a package its zooms, the
// levels made locally and the tiles it holds; then the notes.
std::string MosaicSummaryText(const MosaicReport& report);

// Called after each tile with the tiles done and the total; false cancels the run.
using MosaicProgress = std::function<bool(int64_t done, int64_t total)>;

// PNG and JPEG are refused beyond this many pixels (they would not open comfortably), or wider
// or higher than a JPEG can be.
inline constexpr int64_t kMaxSingleImagePixels = int64_t{16384} * 16384;
inline constexpr int64_t kMaxSingleImageSide = 65500;
// A GeoTIFF's writer keeps 16 bytes of index per tile in memory: at most 1 GB of them.
inline constexpr int64_t kMaxGeoTiffTiles = int64_t{1} << 26;
// GDAL holds every source of a VRT in memory when it opens one, and its text takes about 1.5 KB
// a tile: beyond this the VRT would not be usable.
inline constexpr int64_t kMaxVrtTiles = int64_t{1} << 20;

// Throws MosaicError, before reading any tile when the format cannot hold the area, and also when
// cancelled ("Cancelled."); nothing is left under output then. levels come coarsest first.
MosaicReport WriteMosaic(const MosaicLevels& levels, const std::string& output, const MosaicOptions& options,
                         const MosaicProgress& progress = nullptr);
MosaicReport WriteMosaic(const MosaicSource& source, const std::string& output, const MosaicOptions& options,
                         const MosaicProgress& progress = nullptr);
