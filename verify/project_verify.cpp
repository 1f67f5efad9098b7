// Walking a project's range, checking each tile and writing the list of those to fetch again.
#include "verify/project_verify.h"

#include <algorithm>
#include <array>
#include <optional>

#include <gdal.h>

#include "engine/Unitclasstask.h"
#include "engine/area_input.h"
#include "engine/project_area.h"
#include "engine/tile_sequence.h"
#include "engine/tile_server_setting.h"
#include "shape/task_area_shape.h"
#include "engine/tile_source.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/run_lock.h"

namespace {

constexpr int kWorkerSlots = 8;
constexpr int64_t kProgressEvery = 256;

// The sequence number up to which each worker of the download has finished its tiles.
struct PassedTiles {
  std::optional<AreaCover> cover;  // the tiles of the task's area; none for a rectangle's task
  TileRange range{};
  int64_t workers = 1;
  std::array<int64_t, kWorkerSlots> resume{};

  TileOrder Order() const { return {range, cover ? &*cover : nullptr}; }
  bool Passed(int64_t sequence) const { return sequence <= resume[static_cast<size_t>(sequence % workers)]; }
};

PassedTiles PassedTilesOf(const std::string& projectFile, const ProjectArea& area) {
  PassedTiles passed;
  passed.range = {area.minX, area.minY, area.maxX, area.maxY};
  passed.cover = ProjectAreaCover(projectFile);
  passed.workers = std::max<int64_t>(1, std::min<int64_t>(kWorkerSlots, OrderTileCount(passed.Order())));
  const qm::IniFile project(projectFile);
  for (int i = 0; i < passed.workers; ++i) {
    const std::string n = std::to_string(i + 1);
    passed.resume[static_cast<size_t>(i)] = ResumeSequence(passed.Order(), project.ReadInteger("THREADS", "T" + n + "X", 0),
                                                           project.ReadInteger("THREADS", "T" + n + "Y", 0));
  }
  return passed;
}

void Count(VerifyCounts& counts, TileCheck check) {
  switch (check) {
    case TileCheck::kSound:
      ++counts.sound;
      break;
    case TileCheck::kMissing:
      ++counts.missing;
      break;
    case TileCheck::kNotImage:
      ++counts.notImages;
      break;
    case TileCheck::kDamaged:
      ++counts.damaged;
      break;
  }
}

}  // namespace

VerifyCounts& VerifyCounts::operator+=(const VerifyCounts& o) {
  sound += o.sound;
  missing += o.missing;
  notImages += o.notImages;
  damaged += o.damaged;
  return *this;
}

VerifyReport VerifyProject(const std::string& projectFile, const std::string& tileServer,
                           const VerifyProgress& progress) {
  GDALAllRegister();  // the decoders of every image format a tile may come in
  const ProjectArea area = ReadProjectArea(projectFile);
  // Read first, so that a project that is not there is said to be missing.
  const qm::RunLock lock = qm::RunLock::Take(projectFile);
  if (!qm::DirectoryExists(area.tileFolder)) {
    throw qm::FileError("The tile folder " + area.tileFolder + " of " + projectFile + " is gone.");
  }
  if (area.Tiles() > kMaxTaskTiles) throw ProjectAreaError(TooManyTilesText(area.Tiles()));
  const PassedTiles passed = PassedTilesOf(projectFile, area);
  VerifyReport report;
  report.total = OrderTileCount(passed.Order());
  report.listFile = qm::ExtractFilePath(projectFile) + area.name + "_verify.ftl";
  // A list with keyed URLs is for its owner's eyes only, as the download's own failed list.
  qm::AtomicFileWriter list(report.listFile,
                            TileUrlsCarrySecrets(tileServer) ? qm::FileAccess::kOwnerOnly : qm::FileAccess::kAsBefore);
  ForEachTileInOrder(passed.Order(), [&](const SequencedTile& tile) {
    const std::string path = area.TilePath(tile.x, tile.y);
    const TileCheck check = CheckTileFile(path);
    if (check != TileCheck::kMissing || passed.Passed(tile.sequence)) {
      Count(report.counts, check);
      if (check != TileCheck::kSound) {
        list.Write(path + "|" + SatelliteTileUrl(tileServer, area.zoom, tile.x, tile.y) + "\r\n");
      }
    }
    ++report.checked;
    if (progress && report.checked % kProgressEvery == 0 && !progress(report.checked, report.total)) {
      report.stopped = true;
      return false;
    }
    return true;
  });
  if (progress && !report.stopped) progress(report.checked, report.total);
  list.Commit();
  return report;
}

std::string VerifySummaryText(const VerifyReport& r) {
  const VerifyCounts& c = r.counts;
  std::string text = std::string(r.stopped ? "Verify stopped: checked " : "Checked ") + GroupedCount(r.checked) +
                     " of " + GroupedCount(r.total) + " tiles: sound " + GroupedCount(c.sound) + " · damaged " +
                     GroupedCount(c.damaged) + " · not images " + GroupedCount(c.notImages) + " · missing " +
                     GroupedCount(c.missing);
  if (c.Listed() > 0) text += " · listed in " + r.listFile;
  return text;
}
