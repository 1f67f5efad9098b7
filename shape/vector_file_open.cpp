// Opening vector files with the allowed drivers, checking the paths GDAL would open beside them.
#include "shape/vector_file_open.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>

#include <array>
#include <optional>
#include <vector>

#include "engine/task_area.h"
#include "platform/file_ops.h"
#include "shape/area_shape.h"

namespace {

// Drivers that read only the file named and its side files. Not OGR VRT (names other sources),
// GML (fetches schemas, writes a .gfs beside the file), nor any service or database driver.
constexpr std::array<const char*, 11> kDrivers = {"GeoJSON", "GeoJSONSeq", "KML", "LIBKML", "GPX",  "ESRI Shapefile",
                                                  "GPKG",    "FlatGeobuf", "CSV", nullptr,  nullptr};

// Files that the drivers open beside FILE.EXT: a Shapefile's, a CSV's column types, SQLite's
// journals. A pipe or device among them would block or never end.
std::optional<std::string> SideFileProblem(const std::string& path) {
  const std::string name = qm::ExtractFileName(path);
  const std::string stem = qm::ExtractFilePath(path) + name.substr(0, name.rfind('.'));
  std::vector<std::string> sides = {path + "-journal", path + "-wal", path + "-shm"};
  for (const char* ext : {"shp", "shx", "dbf", "prj", "cpg", "qix", "sbn", "sbx", "csvt"}) {
    std::string upper = ext;
    for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
    sides.push_back(stem + "." + ext);
    sides.push_back(stem + "." + upper);
  }
  for (const std::string& side : sides) {
    if (side != path && qm::PathExists(side) && !qm::IsRegularFile(side)) {
      return side + ", beside " + name +
             ", is not a regular file: the file and those beside it must be files of their own.";
    }
  }
  return std::nullopt;
}

bool Contains(const std::vector<std::string>& messages, const char* part) {
  for (const std::string& message : messages) {
    if (message.find(part) != std::string::npos) return true;
  }
  return false;
}

std::string WhyNotRead(const std::string& path, const std::vector<std::string>& messages) {
  if (Contains(messages, "nesting too deep")) {
    return path +
           " nests its geometries deeper than a GeoJSON file is read: at most 32 levels of brackets, "
           "about 15 geometry collections one inside another.";
  }
  if (Contains(messages, "too complex/large")) {
    return "A feature of " + path + " is larger than a GeoJSON feature is read (" +
           std::to_string(kMaxGeoJsonFeatureMegabytes) +
           " MB in memory, some 3,500,000 vertices): split it into several features.";
  }
  std::string why = "Cannot read " + path + " as a vector file (" + kAreaFormats + ")";
  std::string separator = ": ";
  for (const std::string& message : messages) {
    why += separator + message;
    separator = "; ";
  }
  return why + (messages.empty() ? "." : "");
}

}  // namespace

// GDAL's messages while the file is open, first to last; its settings for this thread meanwhile.
class VectorFile::Messages {
 public:
  Messages() {
    CPLSetThreadLocalConfigOption("OGR_GEOJSON_MAX_OBJ_SIZE", std::to_string(kMaxGeoJsonFeatureMegabytes).c_str());
    CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
    CPLPushErrorHandlerEx(Collect, this);
  }
  ~Messages() {
    CPLPopErrorHandler();
    CPLSetThreadLocalConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", nullptr);
    CPLSetThreadLocalConfigOption("OGR_GEOJSON_MAX_OBJ_SIZE", nullptr);
  }
  Messages(const Messages&) = delete;
  Messages& operator=(const Messages&) = delete;
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  static void Collect(CPLErr level, CPLErrorNum, const char* text) {
    if (level < CE_Failure) return;
    static_cast<Messages*>(CPLGetErrorHandlerUserData())->texts_.emplace_back(text);
  }
  std::vector<std::string> texts_;
};

VectorFile::VectorFile(const std::string& path) {
  if (std::optional<std::string> problem = AreaSourceProblem(path)) throw ShapeError(*problem);
  // A full path, so that no name is taken for a driver's prefix ("CSV:", "GPKG:").
  const std::string local = qm::AbsolutePath(path);
  if (std::optional<std::string> problem = SideFileProblem(local)) throw ShapeError(*problem);
  GDALAllRegister();
  messages_ = std::make_unique<Messages>();
  dataset_ = GDALDataset::Open(local.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, kDrivers.data(), nullptr, nullptr);
  if (!dataset_) throw ShapeError(WhyNotRead(path, messages_->Texts()));
}

VectorFile::~VectorFile() {
  if (dataset_) GDALClose(dataset_);
}
