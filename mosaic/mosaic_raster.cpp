// The raster formats: decoded tiles written one by one into a tiled GeoTIFF, and PNG or JPEG
// copied from such a GeoTIFF. Every GDAL failure on the way fails the run.
#include <cpl_conv.h>
#include <gdal.h>

#include <memory>
#include <vector>

#include "mosaic/gdal_failures.h"
#include "mosaic/mosaic_formats.h"
#include "platform/errors.h"

namespace {

constexpr int kTile = kMosaicTilePixels;

int BandCount(const MosaicOptions& o) { return o.transparentFill && o.format != MosaicFormat::kJpeg ? 4 : 3; }

void ThrowOnFailure(const GdalFailures& failures, const std::string& output) {
  if (failures.AnyFailure()) throw MosaicError(UnableToWriteBecause(output, failures.FirstFailure()));
}

// One tile's pixels, band interleaved, with the fill where the tile is not an image.
void FillTilePixels(const MosaicTile& tile, const MosaicOptions& options, int bands, std::vector<uint8_t>& pixels) {
  for (size_t i = 0; i < size_t{kTile} * kTile; ++i) {
    const uint8_t* rgba = tile.state == TileState::kPresent ? &tile.rgba[i * 4] : nullptr;
    for (int c = 0; c < bands; ++c) pixels[i * bands + c] = rgba != nullptr ? rgba[c] : c == 3 ? 0 : options.fillColor[c];
  }
}

// GDAL's own sidecar file stays off: what is written beside an image is written whole by us.
class NoPamFiles {
 public:
  NoPamFiles() { CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO"); }
  ~NoPamFiles() { CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr); }
};

}  // namespace

void WriteGeoTiff(const MosaicSource& source, const std::string& path, const std::string& output,
                  const MosaicOptions& options, const TileLoader& loader, TileTally& tally) {
  const GdalFailures failures;
  const NoPamFiles noPam;
  const int bands = BandCount(options);
  const char* creation[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "COMPRESS=DEFLATE", "BIGTIFF=IF_SAFER",
                            bands == 4 ? "ALPHA=YES" : nullptr, nullptr};
  GDALDatasetH out = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), static_cast<int>(source.Columns() * kTile),
                                static_cast<int>(source.Rows() * kTile), bands, GDT_Byte, const_cast<char**>(creation));
  if (out == nullptr) throw MosaicError(WithReason(qm::CannotCreateFileText(output), failures.FirstFailure()));
  std::unique_ptr<void, void (*)(GDALDatasetH)> closer(out, [](GDALDatasetH d) { GDALClose(d); });
  auto transform = GeoTransformOf(source);
  GDALSetGeoTransform(out, transform.data());
  GDALSetProjection(out, Srs3857Wkt(false).c_str());
  std::vector<uint8_t> pixels(size_t{kTile} * kTile * bands);
  for (int32_t y = source.minY; y <= source.maxY; ++y) {
    for (int32_t x = source.minX; x <= source.maxX; ++x) {
      const MosaicTile tile = loader.Load(x, y);
      tally.Count(x, y, tile.state);
      FillTilePixels(tile, options, bands, pixels);
      if (GDALDatasetRasterIO(out, GF_Write, (x - source.minX) * kTile, (y - source.minY) * kTile, kTile, kTile,
                              pixels.data(), kTile, kTile, GDT_Byte, bands, nullptr, bands, kTile * bands, 1) != CE_None) {
        throw MosaicError(UnableToWriteBecause(output, failures.FirstFailure()));
      }
    }
    // Each row goes to the file now, so a full disk shows at once rather than at the end.
    GDALFlushCache(out);
    ThrowOnFailure(failures, output);
  }
  GDALClose(closer.release());
  ThrowOnFailure(failures, output);
}

void WriteSingleImage(const MosaicSource& source, const PartialFile& file, const MosaicOptions& options,
                      const TileLoader& loader, TileTally& tally) {
  const PartialFile tiff(file.Target() + ".tif");
  WriteGeoTiff(source, tiff.Path(), file.Target(), options, loader, tally);
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
