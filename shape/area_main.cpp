// quillmere-area: reads download areas with GDAL/OGR for the command line, which starts without
// those libraries. "read FILE [--buffer M]" prints the rectangle fields of the shape's bounding box
// and whether a buffer widens it ("lines" or "polygons") on one line (separated by tabs) and then
// the shape as GeoJSON; "cover AREA.geojson --zoom Z"
// prints the tiles of an area file; "rings AREA.geojson" its outline. A refusal is printed on
// standard output with status 1. It cannot reach the network.
#include <CLI/CLI.hpp>
#include <cpl_error.h>

#include <cstdio>
#include <string>

#include "engine/Unitclasstask.h"
#include "engine/area_cover_text.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "shape/area_shape.h"
#include "shape/network_off.h"
#include "shape/task_area_shape.h"
#include "shape/tile_cover.h"

namespace {

int Refused(const std::string& reason) {
  std::printf("%s\n", reason.c_str());
  return 1;
}

int Read(const std::string& file, double bufferMetres) {
  const std::shared_ptr<const TaskArea> area = TaskAreaFromFile(file, bufferMetres);
  const AreaFieldTexts box = FieldTextsOf(*area);
  std::printf("%s\t%s\t%s\t%s\t%s\n%s", box.left.c_str(), box.right.c_str(), box.top.c_str(), box.bottom.c_str(),
              area->widenable ? "lines" : "polygons", area->geoJson.c_str());
  return 0;
}

int Cover(const std::string& file, int zoom) {
  if (!IsGridZoom(zoom)) return Refused(ZoomOutsideGridText(zoom));
  const AreaShape shape = AreaShape::FromGeoJson(qm::ReadRegularFileUpTo(file, kMaxAreaFileBytes));
  const std::string text = AreaCoverText(CoverOf(shape, zoom));
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

// One ring per line: "lon lat lon lat ...".
int Rings(const std::string& file) {
  const AreaShape shape = AreaShape::FromGeoJson(qm::ReadRegularFileUpTo(file, kMaxAreaFileBytes));
  for (const AreaShape::Ring& ring : shape.Rings()) {
    const char* separator = "";
    for (const auto& [lon, lat] : ring) {
      std::printf("%s%.17g %.17g", separator, lon, lat);
      separator = " ";
    }
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  CLI::App app{"Reads download areas for quillmere-cli."};
  app.require_subcommand(1);
  std::string file;
  double buffer = 0;
  int zoom = 0;
  CLI::App* read = app.add_subcommand("read", "the fields and the GeoJSON of a vector file's shape");
  read->add_option("file", file)->required();
  read->add_option("--buffer", buffer, "metres by which lines and points are widened");
  CLI::App* cover = app.add_subcommand("cover", "the tiles of an area file at a zoom");
  cover->add_option("file", file)->required();
  cover->add_option("--zoom", zoom)->required();
  CLI::App* rings = app.add_subcommand("rings", "the rings and lines of an area file, one per line");
  rings->add_option("file", file)->required();
  CLI11_PARSE(app, argc, argv);
  // Whatever a file names, nothing is fetched: a shape is read from the file alone.
  TurnNetworkOff();
  CPLSetErrorHandler(CPLQuietErrorHandler);  // the reasons are said once, in the refusal
  try {
    if (rings->parsed()) return Rings(file);
    return read->parsed() ? Read(file, buffer) : Cover(file, zoom);
  } catch (const ShapeError& e) {
    return Refused(e.what());
  } catch (const TaskError& e) {
    return Refused(e.what());
  } catch (const qm::FileError& e) {
    return Refused(e.what());
  }
}
