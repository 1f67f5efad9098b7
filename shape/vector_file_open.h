// Opening a vector file the user named with GDAL/OGR, as a local file only: no virtual file system,
// no pipe or device (neither the file nor its side files), and only drivers that read the file
// itself and nothing it names.
#pragma once

#include <memory>
#include <string>

class GDALDataset;

// The formats an area is read from, as the refusals and the manual name them.
inline constexpr const char* kAreaFormats =
    "GeoJSON, KML or KMZ, GPX, Shapefile, GeoPackage, FlatGeobuf, or CSV with WKT or coordinate columns";

// The most memory GDAL may use for one GeoJSON feature, in megabytes: a polygon of some 3,500,000
// vertices (about 2 GB of memory while it is read).
inline constexpr int kMaxGeoJsonFeatureMegabytes = 600;

// A vector file open for reading, with GDAL's settings for it held in this thread (no folder
// listings, the GeoJSON feature limit) until it is closed.
class VectorFile {
 public:
  // Throws ShapeError with the reason: the path's problem, or why GDAL could not read it, in words
  // where GDAL's own are obscure (a GeoJSON nested too deep, a feature too large).
  explicit VectorFile(const std::string& path);
  ~VectorFile();
  VectorFile(const VectorFile&) = delete;
  VectorFile& operator=(const VectorFile&) = delete;
  GDALDataset& Dataset() { return *dataset_; }

 private:
  class Messages;
  std::unique_ptr<Messages> messages_;
  GDALDataset* dataset_ = nullptr;
};
