// The raster formats: decoded tiles written row by row into a tiled GeoTIFF with its overviews,
// and COG, PNG or JPEG copied from such a GeoTIFF. Tiles are decoded and blocks compressed on
// every core. Every GDAL failure on the way fails the run.
#include <cpl_conv.h>
#include <gdal.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "mosaic/gdal_failures.h"
#include "mosaic/mosaic_formats.h"
#include "mosaic/parallel_tiles.h"
#include "mosaic/tile_pyramid.h"
#include "platform/errors.h"

namespace {

constexpr int kTile = kMosaicTilePixels;

bool ThreeBands(const MosaicOptions& o, TiffUse use) {
  return !o.transparentFill || o.format == MosaicFormat::kJpeg ||
         (use != TiffUse::kForSingleImage && o.compression == TiffCompression::kJpeg);
}

// JPEG has no alpha band: where transparency is asked for, the GeoTIFF (and the COG made from
// it) keeps it as an internal mask beside the three bands, as GDAL and GIS read it.
bool Masked(const MosaicOptions& o, TiffUse use) {
  return o.transparentFill && o.format != MosaicFormat::kJpeg && use != TiffUse::kForSingleImage &&
         o.compression == TiffCompression::kJpeg;
}

void ThrowOnFailure(const GdalFailures& failures, const std::string& output) {
  if (failures.AnyFailure()) throw MosaicError(UnableToWriteBecause(output, failures.FirstFailure()));
}

// The tile's pixels as written, RGBA: the fill where it is not an image, and laid over the fill
// colour when the file has no alpha band.
// The pixels laid over the fill colour; a masked file keeps the alpha for its mask.
void OverFill(TileRgba& rgba, const std::array<uint8_t, 3>& fill, bool masked) {
  for (size_t i = 0; i < rgba.size(); i += 4) {
    const unsigned alpha = rgba[i + 3];
    for (int c = 0; c < 3; ++c) {
      rgba[i + c] = static_cast<uint8_t>((rgba[i + c] * alpha + fill[c] * (255 - alpha) + 127) / 255);
    }
    if (!masked) rgba[i + 3] = 255;
  }
}

void PixelsAsWritten(MosaicTile& tile, const MosaicOptions& options, bool opaque, bool masked) {
  if (tile.state != TileState::kPresent) tile.rgba.assign(size_t{kTile} * kTile * 4, 0);
  if (opaque) OverFill(tile.rgba, options.fillColor, masked);
}

// GDAL's own sidecar file stays off: what is written beside an image is written whole by us.
class NoPamFiles {
 public:
  NoPamFiles() { CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO"); }
  ~NoPamFiles() { CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr); }
};

std::vector<std::string> CreationOptions(const MosaicOptions& options, TiffUse use, int bands) {
  std::vector<std::string> list = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=IF_SAFER",
                                   "NUM_THREADS=ALL_CPUS"};
  if (bands == 4) list.emplace_back("ALPHA=YES");
  // What is copied again afterwards is kept lossless and quick to write.
  const TiffCompression compression = use == TiffUse::kFinal ? options.compression : TiffCompression::kDeflate;
  switch (compression) {
    // Deflate's fastest level after horizontal differencing: on imagery a smaller file than its
    // default level gives, in a third of the time.
    case TiffCompression::kDeflate: list.insert(list.end(), {"COMPRESS=DEFLATE", "PREDICTOR=2", "ZLEVEL=1"}); break;
    case TiffCompression::kJpeg: list.insert(list.end(), {"COMPRESS=JPEG", "PHOTOMETRIC=YCBCR", "JPEG_QUALITY=85"}); break;
    case TiffCompression::kWebp: list.insert(list.end(), {"COMPRESS=WEBP", "WEBP_LEVEL=85"}); break;
  }
  return list;
}

// Halvings until the longer side is at most about one tile.
int OverviewCount(int64_t width, int64_t height) {
  int count = 0;
  while ((std::max(width, height) >> count) > kTile) ++count;
  return count;
}

// Writes a finished row of an overview level from column x0 on, cut to the overview's size; false
// when GDAL failed.
// The band's overview, or with band bands + 1 that of the mask.
GDALRasterBandH OverviewBand(GDALDatasetH out, int bands, int band, int step) {
  GDALRasterBandH overview = GDALGetOverview(GDALGetRasterBand(out, std::min(band, bands)), step - 1);
  return band > bands ? GDALGetMaskBand(overview) : overview;
}

bool WriteOverviewRow(GDALDatasetH out, int bands, bool masked, int step, int32_t y, int32_t x0,
                      std::vector<TileRgba>& tiles) {
  for (int b = 1; b <= bands + (masked ? 1 : 0); ++b) {
    GDALRasterBandH overview = OverviewBand(out, bands, b, step);
    const int width = GDALGetRasterBandXSize(overview), height = GDALGetRasterBandYSize(overview);
    const int top = y * kTile, rows = std::min(kTile, height - top);
    for (size_t i = 0; i < tiles.size() && rows > 0; ++i) {
      const int left = (x0 + static_cast<int>(i)) * kTile, columns = std::min(kTile, width - left);
      if (tiles[i].empty() || columns <= 0) continue;
      if (GDALRasterIO(overview, GF_Write, left, top, columns, rows, tiles[i].data() + (b - 1), columns, rows, GDT_Byte,
                       4, kTile * 4) != CE_None) {
        return false;
      }
    }
  }
  return true;
}

// The tiles x0..x1 of row y of an overview already written, as RGBA: transparent beyond its edge,
// opaque within it when the file has no alpha band. False when GDAL failed.
bool ReadOverviewRow(GDALDatasetH out, int bands, bool masked, int step, int32_t y, int32_t x0, int32_t x1,
                     std::vector<TileRgba>& tiles) {
  tiles.assign(static_cast<size_t>(x1 - x0 + 1), TileRgba(size_t{kTile} * kTile * 4, 0));
  const int stored = bands + (masked ? 1 : 0);
  for (int b = 1; b <= 4; ++b) {
    GDALRasterBandH overview = OverviewBand(out, bands, std::min(b, stored), step);
    const int width = GDALGetRasterBandXSize(overview), height = GDALGetRasterBandYSize(overview);
    const int top = y * kTile, rows = std::min(kTile, height - top);
    for (size_t i = 0; i < tiles.size() && rows > 0; ++i) {
      const int left = (x0 + static_cast<int>(i)) * kTile, columns = std::min(kTile, width - left);
      if (columns <= 0) continue;
      if (b > stored) {
        for (int r = 0; r < rows; ++r) {
          for (int c = 0; c < columns; ++c) tiles[i][(size_t(r) * kTile + c) * 4 + 3] = 255;
        }
      } else if (GDALRasterIO(overview, GF_Read, left, top, columns, rows, tiles[i].data() + (b - 1), columns, rows,
                              GDT_Byte, 4, kTile * 4) != CE_None) {
        return false;
      }
    }
  }
  return true;
}

// False when GDAL failed.
bool AddOverviews(GDALDatasetH out, int count, const std::vector<std::string>& creation) {
  // Internal overviews take the creation options through these settings.
  std::vector<std::pair<std::string, std::string>> settings = {{"INTERLEAVE_OVERVIEW", "PIXEL"}};
  for (const std::string& option : creation) {
    const size_t equals = option.find('=');
    const std::string key = option.substr(0, equals), value = option.substr(equals + 1);
    if (key == "COMPRESS" || key == "PHOTOMETRIC" || key == "JPEG_QUALITY" || key == "WEBP_LEVEL" || key == "ZLEVEL" ||
        key == "PREDICTOR") {
      settings.emplace_back(key + "_OVERVIEW", value);
    }
  }
  for (const auto& [key, value] : settings) CPLSetThreadLocalConfigOption(key.c_str(), value.c_str());
  std::vector<int> factors;
  for (int i = 1; i <= count; ++i) factors.push_back(1 << i);
  // "NONE" makes the overviews without computing them: their pixels come from the rows below.
  const CPLErr result = GDALBuildOverviews(out, "NONE", count, factors.data(), 0, nullptr, nullptr, nullptr);
  for (const auto& setting : settings) CPLSetThreadLocalConfigOption(setting.first.c_str(), nullptr);
  return result == CE_None;
}

// A GeoTIFF being written, its overviews added.
struct OpenTiff {
  GDALDatasetH out;
  int bands;
  bool masked;
  int overviews;
  const std::string& output;
  const GdalFailures& failures;
};

// Each band's row goes to the file now, so a full disk shows at once rather than at the end, and
// leaves the block cache, overviews included, so memory stays that of a few rows.
void FlushRows(const OpenTiff& tiff) {
  GDALFlushCache(tiff.out);
  for (int b = 1; b <= tiff.bands + (tiff.masked ? 1 : 0); ++b) {
    for (int step = 1; step <= tiff.overviews; ++step) GDALFlushRasterCache(OverviewBand(tiff.out, tiff.bands, b, step));
  }
  ThrowOnFailure(tiff.failures, tiff.output);
}

// The tile's alpha into the mask at tile column, row of the file; false when GDAL failed.
bool WriteMask(GDALDatasetH out, int64_t column, int64_t row, TileRgba& rgba) {
  GDALRasterBandH mask = GDALGetMaskBand(GDALGetRasterBand(out, 1));
  return GDALRasterIO(mask, GF_Write, static_cast<int>(column * kTile), static_cast<int>(row * kTile), kTile, kTile,
                      rgba.data() + 3, kTile, kTile, GDT_Byte, 4, kTile * 4) == CE_None;
}

// Writes the tiles band by band of columns, and the overviews from them as they come.
void FillTiff(const OpenTiff& tiff, const MosaicSource& source, const MosaicOptions& options, const TileLoader& loader,
              TileTally& tally, bool opaque) {
  // The overviews' tiles are counted from the area's top left tile.
  const PyramidRange area{0, 0, static_cast<int32_t>(source.Columns() - 1), static_cast<int32_t>(source.Rows() - 1)};
  const auto writeRow = [&](int step, int32_t y, int32_t x0, std::vector<TileRgba>& tiles) {
    // Halving weighs colours by their alpha and leaves nothing under a clear pixel: the fill
    // goes there again for readers that do not apply the mask.
    if (tiff.masked) ParallelFor(tiles.size(), [&](size_t i) { OverFill(tiles[i], options.fillColor, true); });
    if (!WriteOverviewRow(tiff.out, tiff.bands, tiff.masked, step, y, x0, tiles)) {
      throw MosaicError(UnableToWriteBecause(tiff.output, tiff.failures.FirstFailure()));
    }
  };
  int bandMap[4] = {1, 2, 3, 4};
  for (const PyramidRange& band : BandsOf(area)) {
    TilePyramid pyramid(band, std::min(tiff.overviews, kBandSteps), writeRow);
    for (int32_t y = source.minY; y <= source.maxY; ++y) {
      const int32_t x0 = source.minX + band.minX;
      std::vector<MosaicTile> tiles = LoadTiles(loader, y, x0, source.minX + band.maxX);
      ParallelFor(tiles.size(), [&](size_t i) { PixelsAsWritten(tiles[i], options, opaque, tiff.masked); });
      std::vector<const TileRgba*> pixels;
      for (size_t i = 0; i < tiles.size(); ++i) {
        const int32_t x = x0 + static_cast<int32_t>(i);
        tally.Count(source.zoom, x, y, tiles[i].state);
        pixels.push_back(&tiles[i].rgba);
        if (GDALDatasetRasterIO(tiff.out, GF_Write, (x - source.minX) * kTile, (y - source.minY) * kTile, kTile, kTile,
                                tiles[i].rgba.data(), kTile, kTile, GDT_Byte, tiff.bands, bandMap, 4, kTile * 4,
                                1) != CE_None ||
            (tiff.masked && !WriteMask(tiff.out, x - source.minX, y - source.minY, tiles[i].rgba))) {
          throw MosaicError(UnableToWriteBecause(tiff.output, tiff.failures.FirstFailure()));
        }
      }
      pyramid.AddRun(y - source.minY, band.minX, pixels);
      pyramid.EndRow(y - source.minY);
      FlushRows(tiff);
    }
  }
  MakeUpperLevels(area, tiff.overviews,
                  [&](int step, int32_t y, int32_t x0, int32_t x1) {
                    std::vector<TileRgba> tiles;
                    FlushRows(tiff);
                    if (!ReadOverviewRow(tiff.out, tiff.bands, tiff.masked, step, y, x0, x1, tiles)) {
                      throw MosaicError(UnableToWriteBecause(tiff.output, tiff.failures.FirstFailure()));
                    }
                    return tiles;
                  },
                  writeRow);
}

}  // namespace

void WriteGeoTiff(const MosaicSource& source, const std::string& path, const std::string& output,
                  const MosaicOptions& options, const TileLoader& loader, TileTally& tally, TiffUse use) {
  const GdalFailures failures;
  const NoPamFiles noPam;
  const bool opaque = ThreeBands(options, use), masked = Masked(options, use);
  const int bands = opaque ? 3 : 4;
  const std::vector<std::string> creation = CreationOptions(options, use, bands);
  std::vector<const char*> creationList;
  for (const std::string& option : creation) creationList.push_back(option.c_str());
  creationList.push_back(nullptr);
  const int64_t width = source.Columns() * kTile, height = source.Rows() * kTile;
  GDALDatasetH out = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), static_cast<int>(width),
                                static_cast<int>(height), bands, GDT_Byte, const_cast<char**>(creationList.data()));
  if (out == nullptr) throw MosaicError(WithReason(qm::CannotCreateFileText(output), failures.FirstFailure()));
  std::unique_ptr<void, void (*)(GDALDatasetH)> closer(out, [](GDALDatasetH d) { GDALClose(d); });
  if (masked) {
    CPLSetThreadLocalConfigOption("GDAL_TIFF_INTERNAL_MASK", "YES");
    const CPLErr made = GDALCreateDatasetMaskBand(out, GMF_PER_DATASET);
    CPLSetThreadLocalConfigOption("GDAL_TIFF_INTERNAL_MASK", nullptr);
    if (made != CE_None) throw MosaicError(UnableToWriteBecause(output, failures.FirstFailure()));
  }
  auto transform = GeoTransformOf(source);
  GDALSetGeoTransform(out, transform.data());
  GDALSetProjection(out, Srs3857Wkt(false).c_str());
  const int overviews = use == TiffUse::kForSingleImage ? 0 : OverviewCount(width, height);
  if (overviews > 0 && !AddOverviews(out, overviews, creation)) {
    throw MosaicError(UnableToWriteBecause(output, failures.FirstFailure()));
  }
  FillTiff({out, bands, masked, overviews, output, failures}, source, options, loader, tally, opaque);
  GDALClose(closer.release());
  ThrowOnFailure(failures, output);
}

void WriteCog(const MosaicSource& source, const PartialFile& file, const MosaicOptions& options,
              const TileLoader& loader, TileTally& tally, const MosaicProgress& progress) {
  const PartialFile tiff(file.Target() + ".tif");
  WriteGeoTiff(source, tiff.Path(), file.Target(), options, loader, tally, TiffUse::kForCog);
  const GdalFailures failures;
  const NoPamFiles noPam;
  std::vector<const char*> copyOptions = {"BLOCKSIZE=256", "BIGTIFF=IF_SAFER", "NUM_THREADS=ALL_CPUS",
                                          "OVERVIEWS=FORCE_USE_EXISTING"};
  switch (options.compression) {
    case TiffCompression::kDeflate:
      copyOptions.insert(copyOptions.end(), {"COMPRESS=DEFLATE", "PREDICTOR=YES", "LEVEL=1"});
      break;
    case TiffCompression::kJpeg: copyOptions.insert(copyOptions.end(), {"COMPRESS=JPEG", "QUALITY=85"}); break;
    case TiffCompression::kWebp: copyOptions.insert(copyOptions.end(), {"COMPRESS=WEBP", "QUALITY=85"}); break;
  }
  copyOptions.push_back(nullptr);
  // The copy asks the caller whether to go on, as the tiles did.
  struct Asking {
    const MosaicProgress& progress;
    int64_t tiles;
  } asking{progress, source.Tiles()};
  const GDALProgressFunc keepGoing = [](double, const char*, void* data) -> int {
    const auto* a = static_cast<Asking*>(data);
    return !a->progress || a->progress(a->tiles, a->tiles) ? TRUE : FALSE;
  };
  GDALDatasetH in = GDALOpen(tiff.Path().c_str(), GA_ReadOnly);
  GDALDatasetH out = in == nullptr ? nullptr
                                   : GDALCreateCopy(GDALGetDriverByName("COG"), file.Path().c_str(), in, FALSE,
                                                    const_cast<char**>(copyOptions.data()), keepGoing, &asking);
  if (out != nullptr) GDALClose(out);
  if (in != nullptr) GDALClose(in);
  if (out == nullptr && progress && !progress(source.Tiles(), source.Tiles())) throw MosaicError("Cancelled.");
  if (out == nullptr) throw MosaicError(UnableToWriteBecause(file.Target(), failures.FirstFailure()));
  ThrowOnFailure(failures, file.Target());
}

void WriteSingleImage(const MosaicSource& source, const PartialFile& file, const MosaicOptions& options,
                      const TileLoader& loader, TileTally& tally) {
  const PartialFile tiff(file.Target() + ".tif");
  WriteGeoTiff(source, tiff.Path(), file.Target(), options, loader, tally, TiffUse::kForSingleImage);
  const GdalFailures failures;
  const NoPamFiles noPam;
  GDALDatasetH in = GDALOpen(tiff.Path().c_str(), GA_ReadOnly);
  const bool png = options.format == MosaicFormat::kPng;
  const char* copyOptions[] = {png ? nullptr : "QUALITY=90", nullptr};
  GDALDatasetH out = in == nullptr ? nullptr
                                   : GDALCreateCopy(GDALGetDriverByName(png ? "PNG" : "JPEG"), file.Path().c_str(), in,
                                                    FALSE, const_cast<char**>(copyOptions), nullptr, nullptr);
  if (out != nullptr) GDALClose(out);
  if (in != nullptr) GDALClose(in);
  if (out == nullptr) throw MosaicError(UnableToWriteBecause(file.Target(), failures.FirstFailure()));
  ThrowOnFailure(failures, file.Target());
}
