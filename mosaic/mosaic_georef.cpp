// Where a mosaic lies, in the forms GDAL and other programs read: WKT, geotransform, world file,
// .prj and GDAL's .aux.xml.
#include <cpl_conv.h>
#include <ogr_srs_api.h>

#include <cstdio>

#include "mosaic/mosaic_formats.h"
#include "platform/file_ops.h"

std::string Srs3857Wkt(bool esri) { return EpsgWkt(3857, esri); }

std::string EpsgWkt(int epsg, bool esri) {
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  OSRImportFromEPSG(srs, epsg);
  if (esri) OSRMorphToESRI(srs);
  char* wkt = nullptr;
  OSRExportToWkt(srs, &wkt);
  std::string text = wkt != nullptr ? wkt : "";
  CPLFree(wkt);
  OSRDestroySpatialReference(srs);
  return text;
}

std::string XmlEscaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::array<double, 6> GeoTransformOf(const MosaicSource& source) {
  const MercatorPlacement p = PlacementOf(source);
  return {p.west, p.pixelSize, 0, p.north, 0, -p.pixelSize};
}

std::array<std::string, 3> SingleImageSidecarPaths(const std::string& output, bool png) {
  const size_t dot = output.rfind('.');
  const size_t slash = output.rfind(qm::kPathSeparator);
  const std::string stem = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? output
                                                                                                    : output.substr(0, dot);
  return {stem + (png ? ".pgw" : ".jgw"), stem + ".prj", output + ".aux.xml"};
}

std::vector<std::string> WriteSingleImageSidecars(const MosaicSource& source, const std::string& output, bool png) {
  const auto t = GeoTransformOf(source);
  const std::array<std::string, 3> paths = SingleImageSidecarPaths(output, png);
  char world[200];
  // A world file names the centre of the top left pixel.
  std::snprintf(world, sizeof world, "%.10f\n0.0000000000\n0.0000000000\n%.10f\n%.10f\n%.10f\n", t[1], t[5],
                t[0] + t[1] / 2, t[3] + t[5] / 2);
  char transform[200];
  std::snprintf(transform, sizeof transform, "%.17g, %.17g, %.17g, %.17g, %.17g, %.17g", t[0], t[1], t[2], t[3], t[4],
                t[5]);
  const std::string aux = "<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"1,2\">" + XmlEscaped(Srs3857Wkt(false)) +
                          "</SRS>\n  <GeoTransform>" + transform + "</GeoTransform>\n</PAMDataset>\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {paths[0], world}, {paths[1], Srs3857Wkt(true)}, {paths[2], aux}};
  std::vector<std::string> written;
  for (const auto& [path, text] : files) {
    qm::WriteFileAtomic(path, text);
    written.push_back(path);
  }
  return written;
}
