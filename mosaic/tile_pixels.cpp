// Tile loading and decoding: JPEG through TurboJPEG, anything else through GDAL's in-memory files.
#include "mosaic/tile_pixels.h"

#include <gdal.h>
#include <turbojpeg.h>

#include <atomic>
#include <memory>

#include "mosaic/gdal_failures.h"
#include "mosaic/tile_pyramid.h"
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

enum class JpegOutcome { kDecoded, kDamaged, kOther };

// JPEG tiles, nearly all of them, are decoded by TurboJPEG, several times faster than through a
// GDAL dataset; side 128 decodes them at half their size (scaled in the DCT, far less work). A
// warning (a file cut short, corrupt data) marks the tile damaged; what TurboJPEG cannot convert
// to RGBA (CMYK, say) is left to GDAL.
JpegOutcome DecodeJpegTile(const std::string& bytes, std::vector<uint8_t>& rgba, int* bands, int side) {
  if (bytes.rfind("\xFF\xD8\xFF", 0) != 0) return JpegOutcome::kOther;
  thread_local std::unique_ptr<void, int (*)(tjhandle)> decoder(nullptr, tjDestroy);
  // A handle that failed on a damaged file is not trusted with the next one: it may report an
  // image of no size.
  if (!decoder) decoder.reset(tjInitDecompress());
  auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto size = static_cast<unsigned long>(bytes.size());
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(decoder.get(), data, size, &width, &height, &subsampling, &colourspace) != 0) {
    decoder.reset();
    return JpegOutcome::kOther;
  }
  if (width != kMosaicTilePixels || height != kMosaicTilePixels) return JpegOutcome::kDamaged;
  if (colourspace == TJCS_CMYK || colourspace == TJCS_YCCK) return JpegOutcome::kOther;
  rgba.resize(size_t(side) * side * 4);
  if (tjDecompress2(decoder.get(), data, size, rgba.data(), side, 0, side, TJPF_RGBA, TJFLAG_STOPONWARNING) != 0) {
    const bool warned = tjGetErrorCode(decoder.get()) == TJERR_WARNING;
    decoder.reset();
    return warned ? JpegOutcome::kDamaged : JpegOutcome::kOther;
  }
  if (bands != nullptr) *bands = colourspace == TJCS_GRAY ? 1 : 3;
  return JpegOutcome::kDecoded;
}

uint32_t BigEndian32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = at; i < at + 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  return value;
}

bool PngLooksWhole(const std::string& bytes) {
  static const std::string kEnd("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
  return bytes.size() > 33 + kEnd.size() && bytes.compare(12, 4, "IHDR") == 0 &&
         BigEndian32(bytes, 16) == kMosaicTilePixels && BigEndian32(bytes, 20) == kMosaicTilePixels &&
         bytes.compare(bytes.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
}

bool JpegLooksWhole(const std::string& bytes) {
  if (bytes.size() < 4 || bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") != 0) return false;
  thread_local std::unique_ptr<void, int (*)(tjhandle)> reader(nullptr, tjDestroy);
  if (!reader) reader.reset(tjInitDecompress());
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(reader.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<unsigned long>(bytes.size()), &width, &height, &subsampling, &colourspace) != 0) {
    reader.reset();
    return false;
  }
  return width == kMosaicTilePixels && height == kMosaicTilePixels;
}

}  // namespace

bool LooksWhole(const std::string& bytes) {
  if (bytes.rfind("\xFF\xD8\xFF", 0) == 0) return JpegLooksWhole(bytes);
  return bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0 && PngLooksWhole(bytes);
}

bool DecodeHalvedTile(const std::string& bytes, std::vector<uint8_t>& rgba) {
  switch (DecodeJpegTile(bytes, rgba, nullptr, kMosaicTilePixels / 2)) {
    case JpegOutcome::kDecoded: return true;
    case JpegOutcome::kDamaged: return false;
    case JpegOutcome::kOther: break;
  }
  std::vector<uint8_t> whole;
  if (!DecodeTile(bytes, whole)) return false;
  rgba = HalvedTile(whole);
  return true;
}

bool DecodeTile(const std::string& bytes, std::vector<uint8_t>& rgba, int* bands) {
  switch (DecodeJpegTile(bytes, rgba, bands, kMosaicTilePixels)) {
    case JpegOutcome::kDecoded: return true;
    case JpegOutcome::kDamaged: return false;
    case JpegOutcome::kOther: break;
  }
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
  if (!source_.Inside(x, y)) {
    tile.state = TileState::kOutside;
    return tile;
  }
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
  bool decoded = true;
  switch (decoding_) {
    case TileDecoding::kPixels: decoded = DecodeTile(tile.bytes, tile.rgba, &tile.bands); break;
    case TileDecoding::kHalved: decoded = DecodeHalvedTile(tile.bytes, tile.rgba); break;
    case TileDecoding::kChecked:
      decoded = LooksWhole(tile.bytes) || DecodeTile(tile.bytes, tile.rgba);
      tile.rgba.clear();
      break;
  }
  if (!decoded) tile.state = TileState::kUndecodable;
  return tile;
}
