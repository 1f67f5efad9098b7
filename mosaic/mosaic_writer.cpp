// Choosing the format, refusing what it cannot hold, and putting the result in place only once
// every part of it is written.
#include "mosaic/mosaic_writer.h"

#include <gdal.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "engine/Unitclasstask.h"
#include "mosaic/mosaic_formats.h"
#include "mosaic/output_check.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {

constexpr int64_t kTile = kMosaicTilePixels;
constexpr int64_t kGdalCacheBytes = int64_t{96} << 20;

// What the format cannot hold is refused at once, saying why.
void CheckCanBeMade(const MosaicSource& source, MosaicFormat format) {
  const int64_t tiles = source.Tiles(), width = source.Columns() * kTile, height = source.Rows() * kTile;
  if (tiles > kMaxTaskTiles) throw MosaicError(TooManyTilesText(tiles));
  if (IsTilePackage(format)) return;
  const std::string pixels = "The area is " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width > INT_MAX || height > INT_MAX) {
    throw MosaicError(pixels + "; GDAL's images hold at most " + std::to_string(INT_MAX) +
                      " pixels across and down; write it as --format mbtiles.");
  }
  const std::string count = "The area holds " + std::to_string(tiles) + " tiles";
  if ((format == MosaicFormat::kGTiff || format == MosaicFormat::kCog) && tiles > kMaxGeoTiffTiles) {
    throw MosaicError(count + "; a GeoTIFF of more than " + std::to_string(kMaxGeoTiffTiles) +
                      " tiles needs more than 1 GB of memory for its index alone; write it as --format mbtiles.");
  }
  if (format == MosaicFormat::kVrt && tiles > kMaxVrtTiles) {
    throw MosaicError(count + "; a VRT of more than " + std::to_string(kMaxVrtTiles) +
                      " tiles would be too large for GDAL to open; write it as --format gtiff or mbtiles.");
  }
  const bool single = format == MosaicFormat::kPng || format == MosaicFormat::kJpeg;
  if (single && (width * height > kMaxSingleImagePixels || width > kMaxSingleImageSide || height > kMaxSingleImageSide)) {
    throw MosaicError(pixels + ", too large for one PNG or JPEG image; write it as --format gtiff.");
  }
}

// Files put in place before the output itself, removed again when the output cannot follow.
class PlacedFiles {
 public:
  ~PlacedFiles() {
    for (const std::string& path : paths_) ::unlink(path.c_str());
  }
  void Add(const std::string& path) { paths_.push_back(path); }
  void Keep() { paths_.clear(); }

 private:
  std::vector<std::string> paths_;
};

int64_t TileCount(const MosaicLevels& levels, MosaicFormat format) {
  if (!IsTilePackage(format)) return levels.back().Tiles();
  int64_t tiles = 0;
  for (const MosaicSource& level : levels) tiles += level.Tiles();
  return tiles;
}

// A tile package's extent; nothing for the other formats.
std::optional<PackageExtent> WriteFormat(const MosaicLevels& levels, PartialFile& pending, const MosaicOptions& options,
                                         const std::string& blank, TileTally& tally, const MosaicProgress& progress) {
  const MosaicSource& finest = levels.back();
  const TileLoader loader(finest, blank);
  switch (options.format) {
    case MosaicFormat::kGTiff:
      WriteGeoTiff(finest, pending.Path(), pending.Target(), options, loader, tally, TiffUse::kFinal);
      break;
    case MosaicFormat::kCog: WriteCog(finest, pending, options, loader, tally, progress); break;
    case MosaicFormat::kVrt: WriteVrt(finest, pending, loader, tally); break;
    case MosaicFormat::kMBTiles: return WriteMBTiles(levels, pending, options, blank, tally);
    case MosaicFormat::kGpkg: return WriteGeoPackage(levels, pending, options, blank, tally);
    case MosaicFormat::kSqliteDb: return WriteSqliteDb(levels, pending, options, blank, tally);
    case MosaicFormat::kPng:
    case MosaicFormat::kJpeg: WriteSingleImage(finest, pending, options, loader, tally); break;
  }
  return std::nullopt;
}

std::string ColourText(const std::array<uint8_t, 3>& colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", colour[0], colour[1], colour[2]);
  return text;
}

// Transparency asked for where the map is JPEG: which colour stands in for it.
std::optional<std::string> FillNote(const MosaicOptions& options, const std::optional<PackageExtent>& package) {
  if (!options.transparentFill) return std::nullopt;
  const std::string fill = ColourText(options.fillColor);
  if (options.format == MosaicFormat::kJpeg) {
    return "JPEG keeps no transparency: where there is no tile the map is filled with " + fill + ".";
  }
  if (package && options.format != MosaicFormat::kGpkg && package->format == "jpg" &&
      package->madeMinZoom <= package->madeMaxZoom) {
    return "The levels made from the tiles below are JPEG, which keeps no transparency: where they are partly empty "
           "they are filled with " + fill + ".";
  }
  return std::nullopt;
}

MosaicReport WriteInPlace(const MosaicLevels& levels, const std::string& output, const MosaicOptions& options,
                          const std::string& blank, const MosaicProgress& progress) {
  PartialFile pending(output);
  TileTally tally(TileCount(levels, options.format), output, progress);
  const std::optional<PackageExtent> package = WriteFormat(levels, pending, options, blank, tally, progress);
  PlacedFiles placed;
  MosaicReport report = tally.Finish();
  if (package) {
    report.minZoom = package->minZoom;
    report.maxZoom = package->maxZoom;
    report.madeMinZoom = package->madeMinZoom;
    report.madeMaxZoom = package->madeMaxZoom;
    report.packed = package->packed;
    report.reencoded = package->reencoded;
    report.packageFormat = package->format;
    report.notes = package->notes;
  }
  if (const std::optional<std::string> note = FillNote(options, package)) report.notes.push_back(*note);
  if (!report.missingList.empty()) placed.Add(report.missingList);
  if (options.format == MosaicFormat::kPng || options.format == MosaicFormat::kJpeg) {
    for (const std::string& path : WriteSingleImageSidecars(levels.back(), output, options.format == MosaicFormat::kPng)) {
      placed.Add(path);
    }
  }
  pending.Commit();
  placed.Keep();
  return report;
}

}  // namespace

std::optional<MosaicFormat> MosaicFormatNamed(std::string_view name) {
  if (name == "gtiff") return MosaicFormat::kGTiff;
  if (name == "cog") return MosaicFormat::kCog;
  if (name == "vrt") return MosaicFormat::kVrt;
  if (name == "mbtiles") return MosaicFormat::kMBTiles;
  if (name == "gpkg") return MosaicFormat::kGpkg;
  if (name == "sqlitedb") return MosaicFormat::kSqliteDb;
  if (name == "png") return MosaicFormat::kPng;
  if (name == "jpeg") return MosaicFormat::kJpeg;
  return std::nullopt;
}

bool IsTilePackage(MosaicFormat format) {
  return format == MosaicFormat::kMBTiles || format == MosaicFormat::kGpkg || format == MosaicFormat::kSqliteDb;
}

std::optional<TiffCompression> TiffCompressionNamed(std::string_view name) {
  if (name == "deflate") return TiffCompression::kDeflate;
  if (name == "jpeg") return TiffCompression::kJpeg;
  if (name == "webp") return TiffCompression::kWebp;
  return std::nullopt;
}

bool ParseFill(std::string_view text, MosaicOptions& options) {
  if (text == "transparent") {
    options.transparentFill = true;
    return true;
  }
  if (text.size() != 7 || text[0] != '#') return false;
  for (int c = 0; c < 3; ++c) {
    unsigned value = 0;
    if (std::sscanf(std::string(text.substr(1 + c * 2, 2)).c_str(), "%2x", &value) != 1) return false;
    if (!std::isxdigit(static_cast<unsigned char>(text[1 + c * 2])) ||
        !std::isxdigit(static_cast<unsigned char>(text[2 + c * 2]))) {
      return false;
    }
    options.fillColor[c] = static_cast<uint8_t>(value);
  }
  options.transparentFill = false;
  return true;
}

MosaicReport WriteMosaic(const MosaicLevels& levels, const std::string& output, const MosaicOptions& options,
                         const MosaicProgress& progress) {
  if (levels.empty()) throw MosaicError("There is no level to write.");
  CheckMosaicOutput(levels, output, options);
  for (const MosaicSource& level : levels) {
    if (IsTilePackage(options.format) || &level == &levels.back()) CheckCanBeMade(level, options.format);
  }
  GDALAllRegister();  // every format decodes its tiles
  // GDAL's block cache may otherwise grow to a share of the machine's memory, as it does while a
  // COG is laid out; the writers flush it row by row and need little.
  if (GDALGetCacheMax64() > kGdalCacheBytes) GDALSetCacheMax64(kGdalCacheBytes);
  try {
    std::string blank;
    if (!options.blankTileFile.empty()) ReadTileFile(options.blankTileFile, blank);
    return WriteInPlace(levels, output, options, blank, progress);
  } catch (const qm::FileError& e) {
    throw MosaicError(e.what());
  }
}

MosaicReport WriteMosaic(const MosaicSource& source, const std::string& output, const MosaicOptions& options,
                         const MosaicProgress& progress) {
  return WriteMosaic(MosaicLevels{source}, output, options, progress);
}
