// The writers of the mosaic formats, each filling the partial file of one run; WriteMosaic puts
// the result in place. Each throws MosaicError naming the output.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "mosaic/mosaic_writer.h"
#include "mosaic/package_tiles.h"
#include "mosaic/partial_file.h"
#include "mosaic/tile_pixels.h"
#include "mosaic/tile_tally.h"

// A tiled, compressed GeoTIFF at path with internal overviews down to about one tile, written
// row by row, the overviews made from the rows as they are written; errors name output.
// A GeoTIFF copied again afterwards is written lossless and quickly; one for a single image gets
// no overviews.
enum class TiffUse { kFinal, kForCog, kForSingleImage };
void WriteGeoTiff(const MosaicSource& source, const std::string& path, const std::string& output,
                  const MosaicOptions& options, const TileLoader& loader, TileTally& tally, TiffUse use);
// PNG or JPEG: a GeoTIFF first (bounded memory), then the copy.
void WriteSingleImage(const MosaicSource& source, const PartialFile& file, const MosaicOptions& options,
                      const TileLoader& loader, TileTally& tally);
// What GDAL and other programs read beside a PNG or JPEG: world file, .prj and .aux.xml (each
// written whole); returns their paths.
std::vector<std::string> WriteSingleImageSidecars(const MosaicSource& source, const std::string& output, bool png);
std::array<std::string, 3> SingleImageSidecarPaths(const std::string& output, bool png);
// A GDAL VRT referencing the tile files by paths relative to the VRT itself.
void WriteVrt(const MosaicSource& source, PartialFile& file, const TileLoader& loader, TileTally& tally);
// The tile folder as seen from the VRT file's folder: relative, "../" where needed, ending with
// the separator.
std::string TileFolderSeenFrom(const std::string& tileFolder, const std::string& vrtFile);
// The tile packages: every level with each tile's downloaded bytes, and the levels made below.
// MBTiles 1.3.
PackageExtent WriteMBTiles(const MosaicLevels& levels, const PartialFile& file, const MosaicOptions& options,
                  const std::string& blankBytes, TileTally& tally);
// An OGC GeoPackage of tiles in EPSG:3857.
PackageExtent WriteGeoPackage(const MosaicLevels& levels, const PartialFile& file, const MosaicOptions& options,
                     const std::string& blankBytes, TileTally& tally);
// The .sqlitedb tile store of offline mobile map programs.
PackageExtent WriteSqliteDb(const MosaicLevels& levels, const PartialFile& file, const MosaicOptions& options,
                   const std::string& blankBytes, TileTally& tally);
// A Cloud Optimized GeoTIFF: the GeoTIFF with its overviews first, then laid out anew.
void WriteCog(const MosaicSource& source, const PartialFile& file, const MosaicOptions& options,
              const TileLoader& loader, TileTally& tally, const MosaicProgress& progress);

// EPSG:3857 as WKT (ESRI's dialect for .prj files).
std::string Srs3857Wkt(bool esri);
std::string EpsgWkt(int epsg, bool esri = false);
// Text for XML content and attribute values.
std::string XmlEscaped(const std::string& text);
// The six geotransform numbers, west edge and pixel size first.
std::array<double, 6> GeoTransformOf(const MosaicSource& source);
