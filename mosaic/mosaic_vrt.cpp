// The VRT is written as text, not through GDAL's VRT driver: the tiles are decoded one at a time
// (no file stays open), their paths are made relative to the VRT file, and the XML streams to
// disk, so neither open files nor memory grow with the area.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/tile_source.h"
#include "mosaic/mosaic_formats.h"
#include "platform/file_ops.h"

namespace {

constexpr int kTile = kMosaicTilePixels;

std::vector<std::string> PartsOf(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find(qm::kPathSeparator, start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string RealFolder(const std::string& folder) {
  char resolved[PATH_MAX];
  return ::realpath(folder.empty() ? "." : folder.c_str(), resolved) != nullptr ? resolved : folder;
}

}  // namespace

// The tile folder as seen from the folder of the VRT file, ending with the separator ("" when
// they are the same folder).
std::string TileFolderSeenFrom(const std::string& tileFolder, const std::string& vrtFile) {
  const auto from = PartsOf(RealFolder(qm::ExtractFilePath(vrtFile)));
  const auto to = PartsOf(RealFolder(tileFolder));
  size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
  std::string relative;
  for (size_t i = common; i < from.size(); ++i) relative += "../";
  for (size_t i = common; i < to.size(); ++i) relative += to[i] + qm::kPathSeparator;
  return relative;
}

namespace {

// Each band of the VRT: one source per tile that is an image; the alpha band is 255 there (the
// tile's first band scaled by 0, plus 255) and 0 elsewhere.
void AppendBand(const MosaicSource& source, const std::vector<bool>& present, const std::string& folder, int band,
                PartialFile& file) {
  static const char* const kColours[] = {"Red", "Green", "Blue", "Alpha"};
  file.Append("  <VRTRasterBand dataType=\"Byte\" band=\"" + std::to_string(band) + "\">\n    <ColorInterp>" +
              kColours[band - 1] + "</ColorInterp>\n");
  const bool alpha = band == 4;
  size_t i = 0;
  for (int32_t y = source.minY; y <= source.maxY; ++y) {
    for (int32_t x = source.minX; x <= source.maxX; ++x, ++i) {
      if (!present[i]) continue;
      char rects[300];
      std::snprintf(rects, sizeof rects,
                    "      <SourceBand>%d</SourceBand>\n"
                    "      <SourceProperties RasterXSize=\"%d\" RasterYSize=\"%d\" DataType=\"Byte\" />\n"
                    "      <SrcRect xOff=\"0\" yOff=\"0\" xSize=\"%d\" ySize=\"%d\" />\n"
                    "      <DstRect xOff=\"%lld\" yOff=\"%lld\" xSize=\"%d\" ySize=\"%d\" />\n",
                    alpha ? 1 : band, kTile, kTile, kTile, kTile, static_cast<long long>(x - source.minX) * kTile,
                    static_cast<long long>(y - source.minY) * kTile, kTile, kTile);
      file.Append(std::string(alpha ? "    <ComplexSource>\n" : "    <SimpleSource>\n") +
                  "      <SourceFilename relativeToVRT=\"1\">" + XmlEscaped(folder + SatelliteTileFileName(source.zoom, x, y)) +
                  "</SourceFilename>\n" + rects +
                  (alpha ? "      <ScaleOffset>255</ScaleOffset>\n      <ScaleRatio>0</ScaleRatio>\n    </ComplexSource>\n"
                         : "    </SimpleSource>\n"));
    }
  }
  file.Append("  </VRTRasterBand>\n");
}

}  // namespace

void WriteVrt(const MosaicSource& source, PartialFile& file, const TileLoader& loader, TileTally& tally) {
  std::vector<bool> present(static_cast<size_t>(source.Tiles()));
  size_t i = 0;
  for (int32_t y = source.minY; y <= source.maxY; ++y) {
    for (int32_t x = source.minX; x <= source.maxX; ++x, ++i) {
      MosaicTile tile = loader.Load(x, y);
      // The sources name bands 1 to 3 of bytes: grey, palette and 16-bit tiles cannot be referenced
      // as they are.
      const ImageForm& form = tile.form;
      if (tile.state == TileState::kPresent && (form.bands < 3 || !form.eightBit)) tile.state = TileState::kUndecodable;
      tally.Count(source.zoom, x, y, tile.state);
      present[i] = tile.state == TileState::kPresent;
    }
  }
  const auto t = GeoTransformOf(source);
  char header[400];
  std::snprintf(header, sizeof header,
                "<VRTDataset rasterXSize=\"%lld\" rasterYSize=\"%lld\">\n"
                "  <GeoTransform>%.17g, %.17g, %.17g, %.17g, %.17g, %.17g</GeoTransform>\n",
                static_cast<long long>(source.Columns() * kTile), static_cast<long long>(source.Rows() * kTile), t[0], t[1],
                t[2], t[3], t[4], t[5]);
  file.Append(std::string(header) + "  <SRS dataAxisToSRSAxisMapping=\"1,2\">" + XmlEscaped(Srs3857Wkt(false)) +
              "</SRS>\n");
  const std::string folder = TileFolderSeenFrom(source.tileFolder, file.Target());
  for (int band = 1; band <= 4; ++band) AppendBand(source, present, folder, band, file);
  file.Append("</VRTDataset>\n");
}
