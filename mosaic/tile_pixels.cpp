// Tile loading and decoding through GDAL's in-memory files.
#include "mosaic/tile_pixels.h"

#include <gdal.h>

#include <atomic>

#include "mosaic/gdal_failures.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {

std::string MemoryFileName() {
  static std::atomic<uint64_t> next{0};
  return "/vsimem/quillmere_tile_" + std::to_string(next++);
}

// Band values of one band into the channel of rgba (stride 4).
bool ReadBand(GDALRasterBandH band, std::vector<uint8_t>& plane) {
  plane.resize(kMosaicTilePixels * kMosaicTilePixels);
  return GDALRasterIO(band, GF_Read, 0, 0, kMosaicTilePixels, kMosaicTilePixels, plane.data(), kMosaicTilePixels,
                      kMosaicTilePixels, GDT_Byte, 0, 0) == CE_None;
}

bool ToRgba(GDALDatasetH dataset, std::vector<uint8_t>& rgba) {
  const int bands = GDALGetRasterCount(dataset);
  if (bands < 1 || GDALGetRasterXSize(dataset) != kMosaicTilePixels || GDALGetRasterYSize(dataset) != kMosaicTilePixels) {
    return false;
  }
  rgba.assign(kMosaicTilePixels * kMosaicTilePixels * 4, 255);
  std::vector<uint8_t> plane;
  GDALColorTableH palette = GDALGetRasterColorTable(GDALGetRasterBand(dataset, 1));
  if (bands == 1) {
    if (!ReadBand(GDALGetRasterBand(dataset, 1), plane)) return false;
    for (size_t i = 0; i < plane.size(); ++i) {
      GDALColorEntry entry{plane[i], plane[i], plane[i], 255};
      if (palette != nullptr) {
        if (const GDALColorEntry* e = GDALGetColorEntry(palette, plane[i])) entry = *e;
      }
      const short values[4] = {entry.c1, entry.c2, entry.c3, entry.c4};
      for (int c = 0; c < 4; ++c) rgba[i * 4 + c] = static_cast<uint8_t>(values[c]);
    }
    return true;
  }
  // All bands in one read, straight into their channels: the image is decoded once.
  const int channels = std::min(bands, 4);
  int bandMap[4] = {1, 2, 3, 4};
  return GDALDatasetRasterIO(dataset, GF_Read, 0, 0, kMosaicTilePixels, kMosaicTilePixels, rgba.data(), kMosaicTilePixels,
                             kMosaicTilePixels, GDT_Byte, channels, bandMap, 4, 4 * kMosaicTilePixels, 1) == CE_None;
}

}  // namespace

bool DecodeTile(const std::string& bytes, std::vector<uint8_t>& rgba, int* bands) {
  const std::string name = MemoryFileName();
  VSILFILE* file = VSIFileFromMemBuffer(name.c_str(), reinterpret_cast<GByte*>(const_cast<char*>(bytes.data())),
                                        bytes.size(), FALSE);
  if (file == nullptr) return false;
  VSIFCloseL(file);
  bool ok = false;
  {
    // A tile that is no image is counted, not reported. libjpeg warns of a file cut short or of
    // corrupt data, and decodes grey rows or garbage there.
    const GdalFailures failures;
    GDALDatasetH dataset = GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    ok = dataset != nullptr && ToRgba(dataset, rgba);
    if (dataset != nullptr && bands != nullptr) *bands = GDALGetRasterCount(dataset);
    if (dataset != nullptr) GDALClose(dataset);
    ok = ok && !failures.AnyFailure() && !failures.WarnedWith("libjpeg");
  }
  VSIUnlink(name.c_str());
  return ok;
}

MosaicTile TileLoader::Load(int32_t x, int32_t y) const {
  MosaicTile tile;
  const std::string path = source_.TilePath(x, y);
  if (!qm::FileExists(path)) return tile;
  try {
    tile.bytes = qm::ReadWholeFile(path);
  } catch (const qm::FileError&) {
    return tile;
  }
  if (!blankBytes_.empty() && tile.bytes == blankBytes_) {
    tile.state = TileState::kBlank;
    return tile;
  }
  tile.state = TileState::kPresent;
  if (!DecodeTile(tile.bytes, tile.rgba, &tile.bands)) tile.state = TileState::kUndecodable;
  return tile;
}
