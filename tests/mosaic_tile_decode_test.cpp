// Tiles of every form a server may send, made with GDAL here, decoded as the combiner and verify
// decode them and compared with GDAL's own reading of the same bytes brought to 8-bit RGBA.
#include <cpl_conv.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "mosaic/tile_pixels.h"
#include "mosaic/tile_pyramid.h"

namespace {

constexpr int kSide = 256;

// A tile of `bands` bands of `type` with each sample from value(band, column, row), written by
// the named GDAL driver with its creation options; a palette on band 1 when given.
std::string MadeTile(const char* driver, int bands, GDALDataType type, const std::function<int(int, int, int)>& value,
                     std::vector<const char*> creation = {}, GDALColorTableH palette = nullptr) {
  GDALDatasetH memory = GDALCreate(GDALGetDriverByName("MEM"), "", kSide, kSide, bands, type, nullptr);
  std::vector<uint16_t> samples(kSide * kSide);
  for (int b = 1; b <= bands; ++b) {
    for (int i = 0; i < kSide * kSide; ++i) samples[i] = static_cast<uint16_t>(value(b, i % kSide, i / kSide));
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(memory, b), GF_Write, 0, 0, kSide, kSide, samples.data(), kSide, kSide,
                           GDT_UInt16, 0, 0),
              CE_None);
  }
  if (palette != nullptr) GDALSetRasterColorTable(GDALGetRasterBand(memory, 1), palette);
  creation.push_back(nullptr);
  const std::string name = std::string("/vsimem/made_tile.") + driver;
  GDALClose(GDALCreateCopy(GDALGetDriverByName(driver), name.c_str(), memory, FALSE,
                           const_cast<char**>(creation.data()), nullptr, nullptr));
  GDALClose(memory);
  vsi_l_offset size = 0;
  GByte* data = VSIGetMemFileBuffer(name.c_str(), &size, TRUE);
  std::string bytes(reinterpret_cast<const char*>(data), size);
  CPLFree(data);
  return bytes;
}

// GDAL's reading of the bytes through gdal_translate with the given arguments (scaling, palette
// expansion), as RGBA: one band is grey, two grey and alpha, three RGB, four RGBA.
std::vector<uint8_t> GdalRgba(const std::string& bytes, std::vector<const char*> arguments) {
  VSIFCloseL(VSIFileFromMemBuffer("/vsimem/gdal_in", reinterpret_cast<GByte*>(const_cast<char*>(bytes.data())),
                                  bytes.size(), FALSE));
  GDALDatasetH in = GDALOpen("/vsimem/gdal_in", GA_ReadOnly);
  arguments.insert(arguments.end(), {"-of", "MEM", "-ot", "Byte", nullptr});
  GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(arguments.data()), nullptr);
  GDALDatasetH out = GDALTranslate("", in, options, nullptr);
  GDALTranslateOptionsFree(options);
  const int bands = GDALGetRasterCount(out);
  std::vector<uint8_t> plane(kSide * kSide), rgba(kSide * kSide * 4, 255);
  for (int b = 1; b <= bands; ++b) {
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(out, b), GF_Read, 0, 0, kSide, kSide, plane.data(), kSide, kSide, GDT_Byte,
                           0, 0),
              CE_None);
    for (int i = 0; i < kSide * kSide; ++i) {
      if (bands < 3 && b == 1) {
        rgba[i * 4] = rgba[i * 4 + 1] = rgba[i * 4 + 2] = plane[i];
      } else {
        rgba[i * 4 + (bands < 3 ? 3 : b - 1)] = plane[i];
      }
    }
  }
  GDALClose(out);
  GDALClose(in);
  VSIUnlink("/vsimem/gdal_in");
  return rgba;
}

// The largest difference of any sample; the colour of a pixel clear in both does not count.
int Difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return 256;
  int most = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const bool clear = a[i | 3] == 0 && b[i | 3] == 0;
    if (!clear) most = std::max(most, std::abs(int{a[i]} - int{b[i]}));
  }
  return most;
}

struct Form {
  const char* name;
  std::string bytes;
  std::vector<const char*> gdalArguments;  // to bring GDAL's reading to 8-bit RGBA
  int tolerance;
  ImageForm expected;
};

TEST(TileDecoding, EveryFormOfTileReadsAsGdalReadsIt) {
  GDALAllRegister();
  // Smooth gradients over every sample value, another for each band.
  const auto byte = [](int band, int x, int y) { return (x * band + y * (5 - band)) / 5; };
  const auto wide = [&byte](int band, int x, int y) { return byte(band, x, y) * 257 + (x % 7); };
  GDALColorTableH palette = GDALCreateColorTable(GPI_RGB);  // the indices beyond 199 name no colour
  for (int i = 0; i < 200; ++i) {
    const GDALColorEntry entry{static_cast<short>(i), static_cast<short>(255 - i), static_cast<short>(i / 2),
                               static_cast<short>(i < 128 ? 255 : 2 * (i - 128))};
    GDALSetColorEntry(palette, i, &entry);
  }
  const std::vector<Form> forms = {
      {"16-bit RGB PNG", MadeTile("PNG", 3, GDT_UInt16, wide), {"-scale", "0", "65535", "0", "255"}, 0, {3, false}},
      {"16-bit grey and alpha PNG", MadeTile("PNG", 2, GDT_UInt16, wide), {"-scale", "0", "65535", "0", "255"}, 0,
       {2, false}},
      {"grey PNG", MadeTile("PNG", 1, GDT_Byte, byte), {}, 0, {1, true}},
      {"grey and alpha PNG", MadeTile("PNG", 2, GDT_Byte, byte), {}, 0, {2, true}},
      {"1-bit grey PNG", MadeTile("PNG", 1, GDT_Byte, [](int, int x, int y) { return (x / 8 + y / 8) % 2; }, {"NBITS=1"}),
       {"-scale", "0", "1", "0", "255"}, 0, {1, false}},
      {"palette PNG with transparent entries, and indices beyond it", MadeTile("PNG", 1, GDT_Byte, byte, {}, palette), {"-expand", "rgba"}, 0,
       {1, true}},
      {"CMYK JPEG", MadeTile("JPEG", 4, GDT_Byte, byte), {}, 0, {3, true}},
      {"12-bit JPEG", MadeTile("JPEG", 3, GDT_UInt16, [&byte](int b, int x, int y) { return byte(b, x, y) * 16; }),
       {"-scale", "0", "4095", "0", "255"}, 0, {3, false}},
      {"progressive JPEG", MadeTile("JPEG", 3, GDT_Byte, byte, {"PROGRESSIVE=ON"}), {}, 1, {3, true}},
      {"grey JPEG", MadeTile("JPEG", 1, GDT_Byte, byte), {}, 1, {1, true}},
  };
  GDALDestroyColorTable(palette);
  for (const Form& form : forms) {
    ASSERT_FALSE(form.bytes.empty()) << form.name;
    std::vector<uint8_t> rgba;
    ImageForm seen;
    ASSERT_TRUE(DecodeTile(form.bytes, rgba, &seen)) << form.name;
    EXPECT_LE(Difference(rgba, GdalRgba(form.bytes, form.gdalArguments)), form.tolerance) << form.name;
    EXPECT_EQ(seen.bands, form.expected.bands) << form.name;
    EXPECT_EQ(seen.eightBit, form.expected.eightBit) << form.name;
    // A level made below halves the same pixels.
    std::vector<uint8_t> halved;
    ASSERT_TRUE(DecodeHalvedTile(form.bytes, halved)) << form.name;
    EXPECT_LE(Difference(halved, HalvedTile(rgba)), 2 + form.tolerance) << form.name;
  }
  // A tile cut short, and a VRT naming an image elsewhere, are no tiles: a tile is never a way to
  // have another file read.
  const std::string png = MadeTile("PNG", 3, GDT_Byte, byte);
  std::vector<uint8_t> rgba;
  EXPECT_FALSE(DecodeTile(png.substr(0, png.size() / 2), rgba));
  VSIFCloseL(VSIFileFromMemBuffer("/vsimem/elsewhere.png", reinterpret_cast<GByte*>(const_cast<char*>(png.data())),
                                  png.size(), FALSE));
  GDALDatasetH elsewhere = GDALOpen("/vsimem/elsewhere.png", GA_ReadOnly);
  ASSERT_NE(elsewhere, nullptr);
  GDALClose(elsewhere);
  EXPECT_FALSE(DecodeTile("<VRTDataset rasterXSize=\"256\" rasterYSize=\"256\"><VRTRasterBand dataType=\"Byte\" band=\"1\">"
                          "<SimpleSource><SourceFilename>/vsimem/elsewhere.png</SourceFilename><SourceBand>1</SourceBand>"
                          "</SimpleSource></VRTRasterBand></VRTDataset>",
                          rgba));
  VSIUnlink("/vsimem/elsewhere.png");
}

}  // namespace
