// Tile loading and decoding: JPEG through TurboJPEG, anything else through GDAL's in-memory files.
#include "mosaic/tile_pixels.h"

#include <gdal.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>

#include "mosaic/gdal_failures.h"
#include "mosaic/tile_pyramid.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/regular_file.h"

namespace {

std::string MemoryFileName() {
  static std::atomic<uint64_t> next{0};
  return "/vsimem/quillmere_tile_" + std::to_string(next++);
}

constexpr int kSide = kMosaicTilePixels;
constexpr size_t kTileArea = size_t{kSide} * kSide;

// A sample as 8 bits: the band's largest sample (65535 for 16 bits, 4095 for a 12-bit JPEG, 1 for a
// 1-bit grey PNG) becomes 255, rounded as GDAL's own scaling rounds.
struct SampleScale {
  unsigned top;
  bool eightBit;  // bytes that are read as they are
  uint8_t operator()(unsigned v) const { return static_cast<uint8_t>((std::min(v, top) * 255u + top / 2) / top); }
};

// How the bands' samples become 8 bits (the formats of tiles give every band the same type);
// nothing for sample types that are no tile's.
std::optional<SampleScale> ScaleOf(GDALDatasetH dataset) {
  const GDALDataType type = GDALGetRasterDataType(GDALGetRasterBand(dataset, 1));
  if (type != GDT_Byte && type != GDT_UInt16) return std::nullopt;
  const int typeBits = type == GDT_Byte ? 8 : 16;
  const char* nbits = GDALGetMetadataItem(GDALGetRasterBand(dataset, 1), "NBITS", "IMAGE_STRUCTURE");
  // A JPEG of more than 8 bits has 12, though GDAL does not say so.
  const bool twelveBitJpeg = type == GDT_UInt16 && EQUAL(GDALGetDriverShortName(GDALGetDatasetDriver(dataset)), "JPEG");
  const int bits = nbits != nullptr ? std::atoi(nbits) : twelveBitJpeg ? 12 : typeBits;
  const unsigned top = (1u << std::clamp(bits, 1, typeBits)) - 1;
  return SampleScale{top, type == GDT_Byte && top == 255};
}

// A palette image: each index looked up, the entry's alpha included.
bool PaletteToRgba(GDALRasterBandH band, GDALColorTableH palette, std::vector<uint8_t>& rgba) {
  std::vector<uint8_t> indices(kTileArea);
  if (GDALGetRasterDataType(band) != GDT_Byte ||
      GDALRasterIO(band, GF_Read, 0, 0, kSide, kSide, indices.data(), kSide, kSide, GDT_Byte, 0, 0) != CE_None) {
    return false;
  }
  for (size_t i = 0; i < kTileArea; ++i) {
    const GDALColorEntry* e = GDALGetColorEntry(palette, indices[i]);
    const GDALColorEntry entry = e != nullptr ? *e : GDALColorEntry{0, 0, 0, 0};
    uint8_t* out = &rgba[i * 4];
    out[0] = static_cast<uint8_t>(entry.c1);
    out[1] = static_cast<uint8_t>(entry.c2);
    out[2] = static_cast<uint8_t>(entry.c3);
    out[3] = static_cast<uint8_t>(entry.c4);
  }
  return true;
}

// Grey (one band, or two with alpha) or colour (three bands, or four with alpha), of 1 to 16 bits
// a sample. All bands in one read, pixel-interleaved: the image is decoded once.
bool BandsToRgba(GDALDatasetH dataset, int bands, std::vector<uint8_t>& rgba, ImageForm& form) {
  const std::optional<SampleScale> scale = ScaleOf(dataset);
  if (!scale) return false;
  form.eightBit = scale->eightBit;
  const int channels = std::min(bands, 4);
  std::vector<uint16_t> samples(kTileArea * static_cast<size_t>(channels));
  int bandMap[4] = {1, 2, 3, 4};
  const int pixelBytes = channels * 2;
  if (GDALDatasetRasterIO(dataset, GF_Read, 0, 0, kSide, kSide, samples.data(), kSide, kSide, GDT_UInt16, channels,
                          bandMap, pixelBytes, pixelBytes * kSide, 2) != CE_None) {
    return false;
  }
  const bool grey = channels < 3;
  for (size_t i = 0; i < kTileArea; ++i) {
    const uint16_t* pixel = &samples[i * static_cast<size_t>(channels)];
    uint8_t* out = &rgba[i * 4];
    if (grey) {
      out[0] = out[1] = out[2] = (*scale)(pixel[0]);
      if (channels == 2) out[3] = (*scale)(pixel[1]);
    } else {
      for (int c = 0; c < channels; ++c) out[c] = (*scale)(pixel[c]);
    }
  }
  return true;
}

bool ToRgba(GDALDatasetH dataset, std::vector<uint8_t>& rgba, ImageForm& form) {
  const int bands = GDALGetRasterCount(dataset);
  if (bands < 1 || GDALGetRasterXSize(dataset) != kSide || GDALGetRasterYSize(dataset) != kSide) return false;
  form = {bands, true};
  rgba.assign(kTileArea * 4, 255);
  GDALRasterBandH first = GDALGetRasterBand(dataset, 1);
  if (GDALColorTableH palette = GDALGetRasterColorTable(first); palette != nullptr && bands == 1) {
    return PaletteToRgba(first, palette, rgba);
  }
  return BandsToRgba(dataset, bands, rgba, form);
}

enum class JpegOutcome { kDecoded, kDamaged, kOther };

// JPEG tiles, nearly all of them, are decoded by TurboJPEG, several times faster than through a
// GDAL dataset; side 128 decodes them at half their size (scaled in the DCT, far less work). A
// warning (a file cut short, corrupt data) marks the tile damaged; what TurboJPEG cannot convert
// to RGBA (CMYK, say) is left to GDAL.
JpegOutcome DecodeJpegTile(const std::string& bytes, std::vector<uint8_t>& rgba, ImageForm* form, int side) {
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
  if (form != nullptr) *form = {colourspace == TJCS_GRAY ? 1 : 3, true};
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

bool DecodeTile(const std::string& bytes, std::vector<uint8_t>& rgba, ImageForm* form) {
  switch (DecodeJpegTile(bytes, rgba, form, kMosaicTilePixels)) {
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
    // Only the image formats of tiles: a tile that is a VRT or another format naming files or
    // addresses would have GDAL read them.
    const GdalFailures failures;
    static const char* const kTileDrivers[] = {"JPEG", "PNG", "GIF", "WEBP", nullptr};
    GDALDatasetH dataset = GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, kTileDrivers, nullptr, nullptr);
    ImageForm opened;
    ok = dataset != nullptr && ToRgba(dataset, rgba, opened);
    if (form != nullptr) *form = opened;
    if (dataset != nullptr) GDALClose(dataset);
    ok = ok && !failures.AnyFailure() && !failures.WarnedWith("libjpeg");
  }
  VSIUnlink(name.c_str());
  return ok;
}

TileFileState ReadTileFile(const std::string& path, std::string& bytes) {
  OpenRefusal refusal = OpenRefusal::kNone;
  std::optional<std::string> content = ReadRegularFile(path, Links::kFollow, kMaxTileFileBytes, refusal);
  if (content) {
    bytes = std::move(*content);
    return TileFileState::kRead;
  }
  switch (refusal) {
    case OpenRefusal::kMissing: return qm::PathExists(path) ? TileFileState::kUnreadable : TileFileState::kMissing;
    case OpenRefusal::kNotRegular:
    case OpenRefusal::kTooLarge: return TileFileState::kNoTile;
    case OpenRefusal::kNone: break;
  }
  return TileFileState::kUnreadable;
}

MosaicTile TileLoader::Load(int32_t x, int32_t y) const {
  MosaicTile tile;
  if (!source_.Inside(x, y)) {
    tile.state = TileState::kOutside;
    return tile;
  }
  switch (ReadTileFile(source_.TilePath(x, y), tile.bytes)) {
    case TileFileState::kMissing: return tile;
    case TileFileState::kNoTile:
    case TileFileState::kUnreadable: tile.state = TileState::kUndecodable; return tile;
    case TileFileState::kRead: break;
  }
  if (!blankBytes_.empty() && tile.bytes == blankBytes_) {
    tile.state = TileState::kBlank;
    return tile;
  }
  tile.state = TileState::kPresent;
  bool decoded = true;
  switch (decoding_) {
    case TileDecoding::kPixels: decoded = DecodeTile(tile.bytes, tile.rgba, &tile.form); break;
    case TileDecoding::kHalved: decoded = DecodeHalvedTile(tile.bytes, tile.rgba); break;
    case TileDecoding::kChecked:
      decoded = LooksWhole(tile.bytes) || DecodeTile(tile.bytes, tile.rgba);
      tile.rgba.clear();
      break;
  }
  if (!decoded) tile.state = TileState::kUndecodable;
  return tile;
}
