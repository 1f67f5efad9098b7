// Reading a project's tile range back from its project file.
#include "engine/project_area.h"

#include "engine/Unitclasstask.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/run_lock.h"

std::string ProjectArea::TilePath(int32_t x, int32_t y) const {
  return tileFolder + SatelliteTileFileName(zoom, x, y);
}

ProjectArea ReadProjectArea(const std::string& projectFile) {
  if (!qm::FileExists(projectFile)) throw ProjectAreaError("Cannot open file " + projectFile);
  const qm::IniFile project(projectFile);
  ProjectArea s;
  s.zoom = project.ReadInteger("Zoom", "Zoom", -1);
  s.minX = project.ReadInteger("XY", "MinX", -1);
  s.minY = project.ReadInteger("XY", "MinY", -1);
  s.maxX = project.ReadInteger("XY", "MaxX", -1);
  s.maxY = project.ReadInteger("XY", "MaxY", -1);
  const int64_t side = IsGridZoom(s.zoom) ? int64_t{1} << s.zoom : 0;
  const auto inGrid = [side](int32_t v) { return v >= 0 && v < side; };
  if (!inGrid(s.minX) || !inGrid(s.maxX) || !inGrid(s.minY) || !inGrid(s.maxY) || s.minX > s.maxX ||
      s.minY > s.maxY) {
    throw ProjectAreaError(projectFile + " holds no tile range of a download (sections [Zoom] and [XY]).");
  }
  const std::string folder = qm::ExtractFilePath(projectFile);
  s.name = TaskStem(qm::ExtractFileName(projectFile));
  s.tileFolder = folder + s.name + qm::kPathSeparator;
  s.failedList = folder + s.name + "_failed.ftl";
  return s;
}

std::vector<std::string> TaskFilesOf(const std::string& projectFile) {
  const std::string stem = qm::ExtractFilePath(projectFile) + TaskStem(qm::ExtractFileName(projectFile));
  std::vector<std::string> files{projectFile, qm::LockFileOf(projectFile)};
  for (const char* ending : {"_list.txt", "_log.txt", "_failed.ftl", "_area.geojson", "_verify.ftl",
                             "_refresh_log.txt", "_refresh_failed.ftl"}) {
    files.push_back(stem + ending);
  }
  return files;
}
