// Timings of the map viewer on a project of about a million tiles, generated on disk (project
// file, tile list and a tile folder whose files are links to a few JPEG tiles):
//   - start to first painted view, without overviews and with them (and to the complete view);
//   - overview building rate, in tiles per second;
//   - peak memory while panning across the area at three scales;
//   - start to first painted view of a level set of the same box over zoom levels 10 to 17.
// Usage: mapviewer_bench [--keep FOLDER]   (FOLDER keeps the generated project between runs)
//        mapviewer_bench --pan PROJECT      (the panning run, started by the benchmark itself)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>

#include "companions/mapviewer_window.h"
#include "engine/Unitclasstask.h"
#include "engine/level_set.h"
#include "mapview/overview_builder.h"
#include "mapview/overview_plan.h"
#include "mapview/piece_images.h"
#include "mapview/tile_survey.h"
#include "platform/file_ops.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A box of about 1,000 x 1,000 tiles at zoom 17, as typed in the window's fields.
const char* const kBox[] = {"-75", "-72.255", "41.8", "39.72"};

// The box at a zoom level; its project file and tile list as Start writes them.
std::string WriteProject(const std::string& folder, const std::string& taskName = "million.qmtp", int zoom = 17) {
  TDownParams p;
  p.LeftLongitude = std::stod(kBox[0]);
  p.RightLongitude = std::stod(kBox[1]);
  p.TopLatitude = std::stod(kBox[2]);
  p.BottomLatitude = std::stod(kBox[3]);
  p.Zoom = zoom;
  p.SavePath = folder;
  p.TaskName = taskName;
  const TDownTask task(&p);
  if (!qm::FileExists(task.ProjectFile())) {
    WriteProjectFile(task);
    WriteListFile(task);
  }
  return task.ProjectFile();
}

// Every tile of the area as a link to one of a few distinct JPEG tiles.
void LinkTiles(const ProjectArea& area) {
  std::vector<std::string> sources;
  for (int i = 0; i < 16; ++i) {
    QImage image(mapview::kTilePixels, mapview::kTilePixels, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(i * 22, 160, 90 + i * 8));
    for (int y = 0; y < image.height(); y += 16) {
      for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(200, 200, 200));
    }
    sources.push_back(area.tileFolder + ".source" + std::to_string(i) + ".jpg");
    qm::WriteFileAtomic(sources.back(), mapview::EncodeJpeg(image));
  }
  for (int32_t y = area.minY; y <= area.maxY; ++y) {
    for (int32_t x = area.minX; x <= area.maxX; ++x) {
      const std::string& source = sources[static_cast<size_t>((x * 7 + y * 3) % 16)];
      if (::link(source.c_str(), area.TilePath(x, y).c_str()) != 0 && errno != EEXIST) {
        std::perror("link");
        std::exit(1);
      }
    }
  }
}

// The box over zoom levels 10 to 17, every level's tiles stored, and its set file.
std::string WriteLevelSetOfTheBox(const std::string& folder) {
  LevelSet set;
  set.LeftLongitude = kBox[0];
  set.RightLongitude = kBox[1];
  set.TopLatitude = kBox[2];
  set.BottomLatitude = kBox[3];
  set.Folder = folder;
  set.TaskName = "set.qmtp";
  set.zooms = {10, 17};
  for (int zoom = set.zooms.first; zoom <= set.zooms.last; ++zoom) {
    const ProjectArea area = ReadProjectArea(WriteProject(folder, LevelTaskName(set.TaskName, zoom), zoom));
    qm::CreateDirectory(area.tileFolder);
    LinkTiles(area);
    set.finished.insert(zoom);
  }
  const std::string file = folder + LevelSetFileName(set.TaskName);
  WriteLevelSet(file, set);
  return file;
}

// Runs the viewer until the paint asked for; its own figure and the wall time of the whole run.
void TimeViewer(const std::string& viewer, const std::string& project, const char* until, int runs) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::setenv("QUILLMERE_VIEWER_EXIT_AFTER", until, 1);
  std::vector<double> walls;
  for (int run = 0; run < runs; ++run) {
    const auto start = Clock::now();
    const pid_t pid = qmtest::SpawnProgram({viewer, project});
    const int status = qmtest::WaitForExit(pid);
    walls.push_back(SecondsSince(start) * 1000);
    if (status != 0) std::printf("  viewer exited with %d\n", status);
  }
  std::sort(walls.begin(), walls.end());
  std::printf("  %-9s process start to exit after it: median %.0f ms, min %.0f ms, max %.0f ms (%d runs)\n", until,
              walls[walls.size() / 2], walls.front(), walls.back(), runs);
}

// Builds every overview of area (of the project's tile folder) and reports the rate.
double BuildOverviews(const ProjectArea& project, const mapview::CellRect& area, const std::string& storeFolder) {
  std::filesystem::remove_all(storeFolder);
  mapview::OverviewStore store(storeFolder);
  mapview::OverviewBuilder builder(area, project.tileFolder, project.zoom, store, nullptr);
  const auto start = Clock::now();
  builder.Start();
  while (!builder.WalkFinished()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double seconds = SecondsSince(start);
  std::printf("  %lld tiles, %lld pieces in %.1f s: %.0f tiles/s\n", static_cast<long long>(area.Count()),
              static_cast<long long>(builder.PiecesBuilt()), seconds, area.Count() / seconds);
  return seconds;
}

// The panning run: views across the area at three scales, each until its images are all drawn.
int Pan(int argc, char* argv[], const std::string& project) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  MapViewerWindow window(qm::ProgramFolder());
  window.resize(1280, 900);
  window.show();
  if (!window.OpenProject(project)) return 1;
  mapview::MapWidget* map = window.Map();
  bool complete = false;
  QObject::connect(map, &mapview::MapWidget::painted, [&](bool c) { complete = c; });
  const mapview::CellRect area = window.Session()->Cells();
  int views = 0, incomplete = 0;
  for (const double pixelsPerTile : {256.0, 32.0, 4.0}) {
    for (int step = 0; step <= 40; ++step) {
      mapview::Viewport view = map->View();
      view.pixelsPerTile = pixelsPerTile;
      view.centerX = area.x0 + (area.x1 - area.x0) * step / 40.0;
      view.centerY = area.y0 + (area.y1 - area.y0) * ((step * 7) % 41) / 40.0;
      map->SetView(view);
      complete = false;
      QElapsedTimer clock;
      clock.start();
      while (!complete && clock.elapsed() < 3000) QApplication::processEvents(QEventLoop::AllEvents, 10);
      ++views;
      if (!complete) ++incomplete;
    }
  }
  std::printf("  %d views (%d not complete within 3 s), image cache %.0f MB at the end\n", views, incomplete,
              window.Session()->Cache().Bytes() / 1048576.0);
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 3 && std::strcmp(argv[1], "--pan") == 0) return Pan(argc, argv, argv[2]);
  std::unique_ptr<TempDir> temporary;
  std::string folder;
  if (argc == 3 && std::strcmp(argv[1], "--keep") == 0) {
    folder = qm::WithTrailingSeparator(argv[2]);
    std::filesystem::create_directories(folder);
  } else {
    temporary = std::make_unique<TempDir>();
    folder = temporary->Path();
  }
  const std::string viewer = qm::ProgramFolder() + "../mapviewer";
  const std::string project = WriteProject(folder);
  const ProjectArea area = ReadProjectArea(project);
  auto start = Clock::now();
  qm::CreateDirectory(area.tileFolder);
  LinkTiles(area);
  std::printf("Project of %lld tiles (%lld x %lld) in %s: generated in %.1f s\n", static_cast<long long>(area.Tiles()),
              static_cast<long long>(area.Columns()), static_cast<long long>(area.Rows()), folder.c_str(),
              SecondsSince(start));

  const std::string overviews = mapview::OverviewFolderFor(project);
  std::filesystem::remove_all(overviews);
  std::printf("First painted view, no overviews yet (goal under 300 ms):\n");
  TimeViewer(viewer, project, "paint", 5);

  std::printf("Overview building rate, a corner of 256 x 256 tiles:\n");
  const mapview::CellRect cells = mapview::AreaCells(area);
  BuildOverviews(area, {cells.x0, cells.y0, cells.x0 + 256, cells.y0 + 256}, folder + "corner_overviews/");
  std::printf("Overview building, the whole area:\n");
  BuildOverviews(area, cells, overviews);

  std::printf("Opening again with the overviews built:\n");
  TimeViewer(viewer, project, "paint", 5);
  TimeViewer(viewer, project, "complete", 5);

  std::printf("Panning across the area at 256, 32 and 4 pixels a tile (goal under 300 MB):\n");
  ::setenv("QUILLMERE_VIEWER_EXIT_AFTER", "", 1);
  ::unsetenv("QUILLMERE_VIEWER_EXIT_AFTER");
  long peakKb = 0;
  const pid_t pid = qmtest::SpawnProgram({argv[0], "--pan", project});
  const int status = qmtest::WaitForExit(pid, &peakKb);
  std::printf("  peak memory %.0f MB (exit status %d)\n", peakKb / 1024.0, status);

  start = Clock::now();
  const std::string set = WriteLevelSetOfTheBox(folder);
  std::printf("A level set of the box over zoom 10 to 17 (generated in %.1f s), first painted view:\n",
              SecondsSince(start));
  TimeViewer(viewer, set, "paint", 5);
  TimeViewer(viewer, set, "complete", 5);
  return 0;
}
