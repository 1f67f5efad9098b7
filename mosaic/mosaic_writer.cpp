// The five mosaic formats: a row loop of decoded tiles for the raster formats, references for the
// VRT, the tiles' own bytes for MBTiles.
#include "mosaic/mosaic_writer.h"

#include <cpl_string.h>
#include <gdal.h>
#include <gdal_vrt.h>
#include <ogr_srs_api.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/tile_source.h"
#include "mosaic/tile_pixels.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {

constexpr int kTile = kMosaicTilePixels;

const char* StateName(TileState state) {
  switch (state) {
    case TileState::kMissing: return "missing";
    case TileState::kBlank: return "blank";
    case TileState::kUndecodable: return "not an image";
    case TileState::kPresent: break;
  }
  return "present";
}

// Counts what had to be filled and lists it; calls progress after every tile.
class TileTally {
 public:
  TileTally(const MosaicSource& source, const MosaicProgress& progress) : source_(source), progress_(progress) {}
  void Count(int32_t x, int32_t y, TileState state) {
    ++report_.tiles;
    if (state != TileState::kPresent) {
      (state == TileState::kMissing ? report_.missing : state == TileState::kBlank ? report_.blank : report_.undecodable)++;
      list_ += SatelliteTileFileName(source_.zoom, x, y) + " " + StateName(state) + "\n";
    }
    if (progress_ && !progress_(report_.tiles, source_.Columns() * source_.Rows())) throw MosaicError("Cancelled.");
  }
  MosaicReport Finish(const std::string& output) {
    if (!list_.empty()) {
      report_.missingList = output + ".missing.txt";
      qm::WriteFileAtomic(report_.missingList, list_);
    }
    return report_;
  }

 private:
  const MosaicSource& source_;
  const MosaicProgress& progress_;
  MosaicReport report_;
  std::string list_;
};

// A file written under a hidden name beside the output, renamed into place when complete and
// removed otherwise.
class PendingOutput {
 public:
  explicit PendingOutput(const std::string& output)
      : output_(output), temporary_(qm::ExtractFilePath(output) + "." + qm::ExtractFileName(output) + ".partial") {
    ::unlink(temporary_.c_str());
  }
  ~PendingOutput() {
    if (!done_) ::unlink(temporary_.c_str());
  }
  const std::string& Path() const { return temporary_; }
  void Commit() {
    if (::rename(temporary_.c_str(), output_.c_str()) != 0) throw MosaicError(qm::UnableToWriteText(output_));
    done_ = true;
  }

 private:
  std::string output_;
  std::string temporary_;
  bool done_ = false;
};

std::string Srs3857Wkt(bool esri) {
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(srs, 3857);
  if (esri) OSRMorphToESRI(srs);
  char* wkt = nullptr;
  OSRExportToWkt(srs, &wkt);
  std::string text = wkt != nullptr ? wkt : "";
  CPLFree(wkt);
  OSRDestroySpatialReference(srs);
  return text;
}

void Georeference(GDALDatasetH dataset, const MosaicSource& source) {
  const MercatorPlacement p = PlacementOf(source);
  double transform[6] = {p.west, p.pixelSize, 0, p.north, 0, -p.pixelSize};
  GDALSetGeoTransform(dataset, transform);
  GDALSetProjection(dataset, Srs3857Wkt(false).c_str());
}

int BandCount(const MosaicOptions& o) { return o.transparentFill && o.format != MosaicFormat::kJpeg ? 4 : 3; }

// Writes the decoded tiles row by row into a tiled, compressed GeoTIFF at path.
void WriteGeoTiff(const MosaicSource& source, const std::string& path, const MosaicOptions& options,
                  const TileLoader& loader, TileTally& tally) {
  const int64_t width = source.Columns() * kTile, height = source.Rows() * kTile;
  const int bands = BandCount(options);
  const char* creation[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "COMPRESS=DEFLATE", "BIGTIFF=IF_SAFER",
                            bands == 4 ? "ALPHA=YES" : nullptr, nullptr};
  GDALDatasetH out = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), static_cast<int>(width),
                                static_cast<int>(height), bands, GDT_Byte, const_cast<char**>(creation));
  if (out == nullptr) throw MosaicError(qm::CannotCreateFileText(path));
  std::unique_ptr<void, void (*)(GDALDatasetH)> closer(out, [](GDALDatasetH d) { GDALClose(d); });
  Georeference(out, source);
  std::vector<uint8_t> row(static_cast<size_t>(width) * kTile * bands);
  for (int32_t y = source.minY; y <= source.maxY; ++y) {
    for (int32_t x = source.minX; x <= source.maxX; ++x) {
      const MosaicTile tile = loader.Load(x, y, true);
      tally.Count(x, y, tile.state);
      const size_t left = static_cast<size_t>(x - source.minX) * kTile;
      for (int py = 0; py < kTile; ++py) {
        uint8_t* target = &row[(py * static_cast<size_t>(width) + left) * bands];
        for (int px = 0; px < kTile; ++px, target += bands) {
          const uint8_t* rgba = tile.state == TileState::kPresent ? &tile.rgba[(py * kTile + px) * 4] : nullptr;
          for (int c = 0; c < bands; ++c) {
            target[c] = rgba != nullptr ? rgba[c] : c == 3 ? 0 : options.fillColor[c];
          }
        }
      }
    }
    if (GDALDatasetRasterIO(out, GF_Write, 0, (y - source.minY) * kTile, static_cast<int>(width), kTile, row.data(),
                            static_cast<int>(width), kTile, GDT_Byte, bands, nullptr, bands, static_cast<int>(width) * bands,
                            1) != CE_None) {
      throw MosaicError(qm::UnableToWriteText(path));
    }
    // Written blocks go to the file now, so memory stays at one row of tiles whatever the area.
    GDALFlushCache(out);
  }
}

// PNG and JPEG: the GeoTIFF first (bounded memory), then a copy with its world file and .prj.
void WriteSingleImage(const MosaicSource& source, const std::string& output, const PendingOutput& pending,
                      const MosaicOptions& options, const TileLoader& loader, TileTally& tally) {
  const std::string tiff = pending.Path() + ".tif";
  struct Remove {
    std::string path;
    ~Remove() { ::unlink(path.c_str()); }
  } removeTiff{tiff};
  WriteGeoTiff(source, tiff, options, loader, tally);
  GDALDatasetH in = GDALOpen(tiff.c_str(), GA_ReadOnly);
  const bool png = options.format == MosaicFormat::kPng;
  const char* copyOptions[] = {"WORLDFILE=YES", png ? nullptr : "QUALITY=90", nullptr};
  GDALDatasetH out = in == nullptr ? nullptr
                                   : GDALCreateCopy(GDALGetDriverByName(png ? "PNG" : "JPEG"), pending.Path().c_str(), in,
                                                    FALSE, const_cast<char**>(copyOptions), nullptr, nullptr);
  if (in != nullptr) GDALClose(in);
  if (out == nullptr) throw MosaicError(qm::UnableToWriteText(output));
  GDALClose(out);
  // GDAL names the world file after the file it wrote; it goes with the output's name.
  const std::string stem = output.substr(0, output.rfind('.') == std::string::npos ? output.size() : output.rfind('.'));
  const std::string worldFrom = pending.Path().substr(0, pending.Path().rfind('.')) + (png ? ".wld" : ".wld");
  const std::string worldTo = stem + (png ? ".pgw" : ".jgw");
  if (::rename(worldFrom.c_str(), worldTo.c_str()) != 0) throw MosaicError(qm::UnableToWriteText(worldTo));
  qm::WriteFileAtomic(stem + ".prj", Srs3857Wkt(true));
  ::unlink((pending.Path() + ".aux.xml").c_str());
}

// A GDAL VRT whose sources are the tile files where they lie; absent tiles stay transparent.
void WriteVrt(const MosaicSource& source, const std::string& path, const TileLoader& loader, TileTally& tally) {
  GDALDatasetH vrt = GDALCreate(GDALGetDriverByName("VRT"), path.c_str(), static_cast<int>(source.Columns() * kTile),
                                static_cast<int>(source.Rows() * kTile), 0, GDT_Byte, nullptr);
  if (vrt == nullptr) throw MosaicError(qm::CannotCreateFileText(path));
  for (int b = 0; b < 4; ++b) GDALAddBand(vrt, GDT_Byte, nullptr);
  GDALSetRasterColorInterpretation(GDALGetRasterBand(vrt, 4), GCI_AlphaBand);
  Georeference(vrt, source);
  std::vector<GDALDatasetH> opened;
  for (int32_t y = source.minY; y <= source.maxY; ++y) {
    for (int32_t x = source.minX; x <= source.maxX; ++x) {
      MosaicTile tile = loader.Load(x, y, false);
      GDALDatasetH in = nullptr;
      if (tile.state == TileState::kPresent) {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        in = GDALOpenShared(source.TilePath(x, y).c_str(), GA_ReadOnly);
        CPLPopErrorHandler();
        if (in == nullptr || GDALGetRasterCount(in) < 3 || GDALGetRasterXSize(in) != kTile) {
          tile.state = TileState::kUndecodable;
          if (in != nullptr) GDALClose(in);
          in = nullptr;
        }
      }
      tally.Count(x, y, tile.state);
      if (in == nullptr) continue;
      opened.push_back(in);
      const int dx = (x - source.minX) * kTile, dy = (y - source.minY) * kTile;
      for (int b = 1; b <= 3; ++b) {
        VRTAddSimpleSource(GDALGetRasterBand(vrt, b), GDALGetRasterBand(in, b), 0, 0, kTile, kTile, dx, dy, kTile,
                           kTile, "near", VRT_NODATA_UNSET);
      }
      // Alpha: 255 wherever a tile lies (band 1 scaled by 0, plus 255).
      VRTAddComplexSource(GDALGetRasterBand(vrt, 4), GDALGetRasterBand(in, 1), 0, 0, kTile, kTile, dx, dy, kTile, kTile,
                          255, 0, VRT_NODATA_UNSET);
    }
  }
  GDALClose(vrt);
  for (GDALDatasetH in : opened) GDALClose(in);
}

std::string TileFormatOf(const std::string& bytes) {
  if (bytes.rfind("\xFF\xD8\xFF", 0) == 0) return "jpg";
  if (bytes.rfind("\x89PNG\r\n\x1A\n", 0) == 0) return "png";
  return "";
}

void Exec(sqlite3* db, const char* sql, const std::string& path) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw MosaicError(qm::UnableToWriteText(path));
}

// MBTiles 1.3: each tile's bytes as downloaded, rows flipped to TMS, and its metadata.
void WriteMBTiles(const MosaicSource& source, const std::string& path, const TileLoader& loader, TileTally& tally) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    throw MosaicError(qm::CannotCreateFileText(path));
  }
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(db, sqlite3_close);
  // The file is renamed into place only when complete, so SQLite's own journal adds nothing.
  Exec(db, "PRAGMA page_size=65536; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;", path);
  Exec(db, "CREATE TABLE metadata (name TEXT, value TEXT);"
           "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
           "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
           "BEGIN;", path);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalizer(insert, sqlite3_finalize);
  std::string format;
  const int64_t flip = (int64_t{1} << source.zoom) - 1;
  for (int32_t y = source.minY; y <= source.maxY; ++y) {
    for (int32_t x = source.minX; x <= source.maxX; ++x) {
      MosaicTile tile = loader.Load(x, y, false);
      const std::string kind = tile.state == TileState::kPresent ? TileFormatOf(tile.bytes) : "";
      if (tile.state == TileState::kPresent && kind.empty()) tile.state = TileState::kUndecodable;
      tally.Count(x, y, tile.state);
      if (tile.state != TileState::kPresent) continue;
      if (format.empty()) format = kind;
      sqlite3_bind_int(insert, 1, source.zoom);
      sqlite3_bind_int64(insert, 2, x);
      sqlite3_bind_int64(insert, 3, flip - y);
      sqlite3_bind_blob(insert, 4, tile.bytes.data(), static_cast<int>(tile.bytes.size()), SQLITE_STATIC);
      if (sqlite3_step(insert) != SQLITE_DONE) throw MosaicError(qm::UnableToWriteText(path));
      sqlite3_reset(insert);
    }
  }
  const DegreeBounds b = BoundsOf(source);
  char bounds[160], center[120];
  std::snprintf(bounds, sizeof bounds, "%.9f,%.9f,%.9f,%.9f", b.west, b.south, b.east, b.north);
  std::snprintf(center, sizeof center, "%.9f,%.9f,%d", (b.west + b.east) / 2, (b.south + b.north) / 2, source.zoom);
  const std::pair<const char*, std::string> metadata[] = {
      {"name", source.name}, {"format", format.empty() ? "jpg" : format}, {"bounds", bounds}, {"center", center},
      {"minzoom", std::to_string(source.zoom)}, {"maxzoom", std::to_string(source.zoom)}, {"type", "baselayer"},
      {"version", "1.3"}};
  sqlite3_stmt* meta = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO metadata VALUES (?, ?)", -1, &meta, nullptr);
  for (const auto& [name, value] : metadata) {
    sqlite3_bind_text(meta, 1, name, -1, SQLITE_STATIC);
    sqlite3_bind_text(meta, 2, value.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(meta);
    sqlite3_reset(meta);
  }
  sqlite3_finalize(meta);
  Exec(db, "COMMIT;", path);
}

}  // namespace

std::optional<MosaicFormat> MosaicFormatNamed(std::string_view name) {
  if (name == "gtiff") return MosaicFormat::kGTiff;
  if (name == "vrt") return MosaicFormat::kVrt;
  if (name == "mbtiles") return MosaicFormat::kMBTiles;
  if (name == "png") return MosaicFormat::kPng;
  if (name == "jpeg") return MosaicFormat::kJpeg;
  return std::nullopt;
}

bool ParseFill(std::string_view text, MosaicOptions& options) {
  if (text == "transparent") {
    options.transparentFill = true;
    return true;
  }
  if (text.size() != 7 || text[0] != '#') return false;
  for (int c = 0; c < 3; ++c) {
    unsigned value = 0;
    if (std::sscanf(std::string(text.substr(1 + c * 2, 2)).c_str(), "%2x", &value) != 1) return false;
    if (!std::isxdigit(static_cast<unsigned char>(text[1 + c * 2])) ||
        !std::isxdigit(static_cast<unsigned char>(text[2 + c * 2]))) {
      return false;
    }
    options.fillColor[c] = static_cast<uint8_t>(value);
  }
  options.transparentFill = false;
  return true;
}

MosaicReport WriteMosaic(const MosaicSource& source, const std::string& output, const MosaicOptions& options,
                         const MosaicProgress& progress) {
  if (options.format != MosaicFormat::kMBTiles) GDALAllRegister();  // MBTiles needs no raster driver
  const bool single = options.format == MosaicFormat::kPng || options.format == MosaicFormat::kJpeg;
  if (single && source.Columns() * source.Rows() * kTile * kTile > kMaxSingleImagePixels) {
    throw MosaicError("The area is " + std::to_string(source.Columns() * kTile) + " x " +
                      std::to_string(source.Rows() * kTile) +
                      " pixels, too large for one PNG or JPEG image; write it as --format gtiff.");
  }
  std::string blank;
  if (!options.blankTileFile.empty() && qm::FileExists(options.blankTileFile)) blank = qm::ReadWholeFile(options.blankTileFile);
  const TileLoader loader(source, blank);
  TileTally tally(source, progress);
  PendingOutput pending(output);
  switch (options.format) {
    case MosaicFormat::kGTiff: WriteGeoTiff(source, pending.Path(), options, loader, tally); break;
    case MosaicFormat::kVrt: WriteVrt(source, pending.Path(), loader, tally); break;
    case MosaicFormat::kMBTiles: WriteMBTiles(source, pending.Path(), loader, tally); break;
    case MosaicFormat::kPng:
    case MosaicFormat::kJpeg: WriteSingleImage(source, output, pending, options, loader, tally); break;
  }
  pending.Commit();
  return tally.Finish(output);
}
