#include "mosaic/tile_encoder.h"

#include <gdal.h>

#include <atomic>
#include <vector>

#include "mosaic/gdal_failures.h"
#include "mosaic/tile_pixels.h"

namespace {

constexpr int kSide = kMosaicTilePixels;

std::string MemoryFileName() {
  static std::atomic<uint64_t> next{0};
  return "/vsimem/quillmere_made_tile_" + std::to_string(next++);
}

// The pixels as bands of a memory dataset: RGBA for PNG, RGB over the fill for JPEG.
GDALDatasetH PixelDataset(const TileRgba& rgba, TileImageKind kind, std::array<uint8_t, 3> fill,
                          std::vector<uint8_t>& planes) {
  const int bands = kind == TileImageKind::kPng ? 4 : 3;
  const size_t area = size_t{kSide} * kSide;
  planes.resize(area * bands);
  for (size_t i = 0; i < area; ++i) {
    const unsigned alpha = rgba[i * 4 + 3];
    for (int c = 0; c < bands; ++c) {
      const unsigned value = rgba[i * 4 + c];
      planes[c * area + i] = c == 3 || bands == 4 || alpha == 255
                                 ? static_cast<uint8_t>(value)
                                 : static_cast<uint8_t>((value * alpha + fill[c] * (255 - alpha) + 127) / 255);
    }
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
  const GdalFailures failures;
  std::vector<uint8_t> planes;
  GDALDatasetH pixels = PixelDataset(rgba, kind, fill, planes);
  if (pixels == nullptr) return "";
  const std::string name = MemoryFileName();
  const bool png = kind == TileImageKind::kPng;
  const char* options[] = {png ? "ZLEVEL=6" : "QUALITY=90", nullptr};
  GDALDatasetH encoded = GDALCreateCopy(GDALGetDriverByName(png ? "PNG" : "JPEG"), name.c_str(), pixels, FALSE,
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
