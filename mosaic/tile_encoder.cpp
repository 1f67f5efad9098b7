#include "mosaic/tile_encoder.h"

#include <gdal.h>
#include <turbojpeg.h>

#include <atomic>
#include <memory>
#include <vector>

#include "mosaic/gdal_failures.h"
#include "mosaic/tile_pixels.h"

namespace {

constexpr int kSide = kMosaicTilePixels;

std::string MemoryFileName() {
  static std::atomic<uint64_t> next{0};
  return "/vsimem/quillmere_made_tile_" + std::to_string(next++);
}

// The pixels as the four bands of a memory dataset, for PNG.
GDALDatasetH PixelDataset(const TileRgba& rgba, std::vector<uint8_t>& planes) {
  const int bands = 4;
  const size_t area = size_t{kSide} * kSide;
  planes.resize(area * bands);
  for (size_t i = 0; i < area; ++i) {
    for (int c = 0; c < bands; ++c) planes[c * area + i] = rgba[i * 4 + c];
  }
  GDALDatasetH dataset = GDALCreate(GDALGetDriverByName("MEM"), "", kSide, kSide, bands, GDT_Byte, nullptr);
  if (dataset != nullptr &&
      GDALDatasetRasterIO(dataset, GF_Write, 0, 0, kSide, kSide, planes.data(), kSide, kSide, GDT_Byte, bands, nullptr,
                          0, 0, 0) != CE_None) {
    GDALClose(dataset);
    return nullptr;
  }
  return dataset;
}

// JPEG through TurboJPEG, several times faster than through a GDAL dataset, at the quality and
// chroma subsampling GDAL's JPEG driver uses. An opaque tile is compressed as it is; elsewhere
// the fill shows through.
std::string EncodeJpegTile(const TileRgba& rgba, std::array<uint8_t, 3> fill) {
  const size_t area = size_t{kSide} * kSide;
  bool opaque = true;
  for (size_t i = 0; i < area && opaque; ++i) opaque = rgba[i * 4 + 3] == 255;
  std::vector<uint8_t> overFill;
  if (!opaque) {
    overFill.resize(area * 4);
    for (size_t i = 0; i < area; ++i) {
      const unsigned alpha = rgba[i * 4 + 3];
      for (int c = 0; c < 3; ++c) {
        overFill[i * 4 + c] = static_cast<uint8_t>((rgba[i * 4 + c] * alpha + fill[c] * (255 - alpha) + 127) / 255);
      }
    }
  }
  thread_local std::unique_ptr<void, int (*)(tjhandle)> encoder(nullptr, tjDestroy);
  if (!encoder) encoder.reset(tjInitCompress());
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  std::string bytes;
  if (tjCompress2(encoder.get(), opaque ? rgba.data() : overFill.data(), kSide, 0, kSide, TJPF_RGBX, &jpeg, &size,
                  TJSAMP_420, 90, 0) == 0) {
    bytes.assign(reinterpret_cast<const char*>(jpeg), size);
  }
  tjFree(jpeg);
  return bytes;
}

}  // namespace

bool TileImageKindOf(const std::string& bytes, TileImageKind& kind) {
  if (bytes.rfind("\xFF\xD8\xFF", 0) == 0) {
    kind = TileImageKind::kJpeg;
    return true;
  }
  if (bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0) {
    kind = TileImageKind::kPng;
    return true;
  }
  return false;
}

std::string EncodeTile(const TileRgba& rgba, TileImageKind kind, std::array<uint8_t, 3> fill) {
  if (kind == TileImageKind::kJpeg) return EncodeJpegTile(rgba, fill);
  const GdalFailures failures;
  std::vector<uint8_t> planes;
  GDALDatasetH pixels = PixelDataset(rgba, planes);
  if (pixels == nullptr) return "";
  const std::string name = MemoryFileName();
  const char* options[] = {"ZLEVEL=6", nullptr};
  GDALDatasetH encoded = GDALCreateCopy(GDALGetDriverByName("PNG"), name.c_str(), pixels, FALSE,
                                        const_cast<char**>(options), nullptr, nullptr);
  if (encoded != nullptr) GDALClose(encoded);
  GDALClose(pixels);
  std::string bytes;
  vsi_l_offset length = 0;
  if (GByte* data = VSIGetMemFileBuffer(name.c_str(), &length, FALSE); encoded != nullptr && data != nullptr) {
    bytes.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  }
  VSIUnlink(name.c_str());
  VSIUnlink((name + ".aux.xml").c_str());
  return bytes;
}
