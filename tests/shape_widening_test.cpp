// Widening a real, noisy GPS track (the sample of Debian's gpsman package: 739 points recorded in
// 1998) after simplifying it: every tile of the exact widening is still covered, and only few more.
#include <cpl_vsi.h>
#include <gtest/gtest.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "platform/file_ops.h"
#include "shape/area_shape.h"
#include "shape/geojson_text.h"
#include "shape/tile_cover.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr const char* kRecordedTrack = "/usr/share/doc/gpsman/html/info/sample.txt.gz";

// The track's points: lines "<tab>date time<tab>D M S<tab>D M S", latitude first.
OGRLineString RecordedTrack() {
  OGRLineString track;
  VSILFILE* file = VSIFOpenL((std::string("/vsigzip/") + kRecordedTrack).c_str(), "rb");
  if (!file) return track;
  while (const char* line = CPLReadLineL(file)) {
    std::istringstream fields(line);
    std::string date, time;
    double lat[3], lon[3];
    if (line[0] != '\t' || !(fields >> date >> time >> lat[0] >> lat[1] >> lat[2] >> lon[0] >> lon[1] >> lon[2]))
      continue;
    const auto degrees = [](const double dms[3]) {
      const double size = std::abs(dms[0]) + dms[1] / 60 + dms[2] / 3600;
      return dms[0] < 0 ? -size : size;
    };
    track.addPoint(degrees(lon), degrees(lat));
  }
  VSIFCloseL(file);
  return track;
}

// The whole track buffered in one equidistant projection about its centre, not simplified.
AreaShape ExactlyWidened(const OGRLineString& track, double metres) {
  OGRSpatialReference degrees, local;
  degrees.importFromEPSG(4326);
  degrees.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  OGREnvelope box;
  track.getEnvelope(&box);
  local.SetWellKnownGeogCS("WGS84");
  local.SetAE((box.MinY + box.MaxY) / 2, (box.MinX + box.MaxX) / 2, 0, 0);
  local.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  std::unique_ptr<OGRCoordinateTransformation> there(OGRCreateCoordinateTransformation(&degrees, &local));
  std::unique_ptr<OGRCoordinateTransformation> back(OGRCreateCoordinateTransformation(&local, &degrees));
  OGRLineString copy(track);
  copy.transform(there.get());
  std::unique_ptr<OGRGeometry> wide(copy.Buffer(metres, 8));
  wide->segmentize(100);
  wide->transform(back.get());
  return AreaShape::FromGeoJson(GeoJsonText(*wide));
}

TEST(Widening, ASimplifiedNoisyTrackCoversEveryTileOfTheExactWideningAndFewMore) {
  OGRLineString recorded = RecordedTrack();
  if (recorded.getNumPoints() == 0) GTEST_SKIP() << "needs Debian's gpsman package (" << kRecordedTrack << ")";
  ASSERT_EQ(recorded.getNumPoints(), 739);
  // Walked there and back three times: more vertices than one piece holds, over the same ground.
  OGRLineString track(recorded);
  for (int lap = 0; lap < 5; ++lap) {
    for (int i = 1; i < recorded.getNumPoints(); ++i) {
      const int at = lap % 2 == 0 ? recorded.getNumPoints() - 1 - i : i;
      track.addPoint(recorded.getX(at), recorded.getY(at));
    }
  }
  std::string gpx =
      R"(<?xml version="1.0"?><gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>)";
  for (int i = 0; i < track.getNumPoints(); ++i) {
    char point[96];
    std::snprintf(point, sizeof point, R"(<trkpt lat="%.8f" lon="%.8f"/>)", track.getY(i), track.getX(i));
    gpx += point;
  }
  TempDir dir;
  qm::WriteFileAtomic(dir.File("walk.gpx"), gpx + "</trkseg></trk></gpx>");

  for (const auto& [metres, zoom] : {std::pair{20.0, 19}, std::pair{500.0, 17}}) {
    const AreaCover exact = CoverOf(ExactlyWidened(track, metres), zoom);
    const AreaCover simplified = CoverOf(AreaShape::Read(dir.File("walk.gpx"), metres), zoom);
    int64_t lost = 0;
    exact.ForEach([&](const SequencedTile& tile) {
      lost += !simplified.Contains(tile.x, tile.y);
      return true;
    });
    EXPECT_EQ(lost, 0) << metres << " m at zoom " << zoom;
    EXPECT_LE(simplified.Tiles(), exact.Tiles() * 11 / 10) << metres << " m at zoom " << zoom;
    EXPECT_GT(exact.Tiles(), 20);
  }
}

}  // namespace
