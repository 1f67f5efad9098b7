// Building a download task: tile range, edges, count, file paths, tile folder, resume points.
#include "engine/Unitclasstask.h"

#include <algorithm>
#include <utility>

#include "engine/Commonfunc.h"
#include "engine/tile_sequence.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"

namespace {

void CreateTileFolder(const std::string& tileDir) {
  if (qm::DirectoryExists(tileDir)) return;
  if (!qm::CreateDirectory(tileDir)) {
    throw TaskError("Create directory " + tileDir + " Failed.");
  }
}

}  // namespace

std::string TaskExtension(const std::string& taskName) {
  const std::size_t dot = taskName.rfind('.');
  const std::size_t separator = taskName.rfind(qm::kPathSeparator);
  // A dot inside a folder part of the name does not start an extension.
  if (dot == std::string::npos || (separator != std::string::npos && separator > dot)) return "";
  return taskName.substr(dot);
}

std::string TaskStem(const std::string& taskName) {
  return taskName.substr(0, taskName.size() - TaskExtension(taskName).size());
}

std::string TooManyTilesText(int64_t tileCount) {
  return "The area holds " + std::to_string(tileCount) + " tiles; one task holds at most " +
         std::to_string(kMaxTaskTiles) + " tiles.";
}

std::string ZoomOutsideGridText(int32_t zoom) {
  return "Zoom level " + std::to_string(zoom) + " is outside the tile grid: it should be between 0 and " +
         std::to_string(kMaxGridZoom) + ".";
}

TDownTask::TDownTask(TDownParams* params) : Params(params) {
  if (!IsGridZoom(params->Zoom)) throw TaskError(ZoomOutsideGridText(params->Zoom));
  const auto zoom = static_cast<uint8_t>(params->Zoom);
  MinX = LonToTileX(params->LeftLongitude, zoom);
  MaxX = LonToTileX(params->RightLongitude, zoom);
  const int32_t southRow = LatToTileY(params->BottomLatitude, zoom);
  const int32_t northRow = LatToTileY(params->TopLatitude, zoom);
  MinY = southRow;
  MaxY = northRow;
  Left_Longitude_download = TileXToLon(MinX, zoom);
  Right_Longitude_download = TileXToLon(static_cast<double>(MaxX) + 1, zoom);
  // The latitude edges come from the rows before they are put in order.
  Top_Latitude_download = TileYToLat(northRow, zoom);
  Bottom_Latitude_download = TileYToLat(static_cast<double>(southRow) + 1, zoom);
  if (MaxY < MinY) std::swap(MinY, MaxY);

  if (params->Area) {
    Cover = std::make_shared<const AreaCover>(params->Area->coverAt(params->Zoom).ClippedTo(RangeOf(*this)));
  }
  const int64_t count = OrderTileCount(OrderOf(*this));
  // Before the count's own checks: an area file replaced by another shape says so, not that its
  // tiles are none or too many.
  if (params->Resume && Cover) CheckAreaUnchanged(count);
  if (count > kMaxTaskTiles) throw TaskError(TooManyTilesText(count));
  if (count < 1 || MinX > MaxX) {
    throw TaskError("The area holds no tiles at zoom " + std::to_string(params->Zoom) + ".");
  }
  TotalCount = static_cast<int32_t>(count);

  const std::string stem = TaskStem(params->TaskName);
  LogFile = params->SavePath + stem + "_log.txt";
  FailedFile = params->SavePath + stem + "_failed.ftl";
  ListFile = params->SavePath + stem + "_list.txt";
  TileDir = params->SavePath + stem + qm::kPathSeparator;
  if (params->Area) AreaFile = params->SavePath + AreaFileName(params->TaskName);
  CreateTileFolder(TileDir);

  if (params->Resume) {
    const qm::IniFile project(ProjectFile());
    const int workers = std::clamp<int32_t>(params->ThreadCount, 0, kResumeSlots);
    for (int i = 0; i < workers; ++i) {
      const std::string n = std::to_string(i + 1);
      ResumeX[i] = project.ReadInteger("THREADS", "T" + n + "X", 0);
      ResumeY[i] = project.ReadInteger("THREADS", "T" + n + "Y", 0);
    }
  }
}

// A continued task must cover the tiles it began with: an area file edited or replaced since would
// leave tiles never asked for while the task says it is complete.
void TDownTask::CheckAreaUnchanged(int64_t tiles) const {
  if (const auto changed = ChangedAreaText(ProjectFile(), Params->Area->geoJson, tiles)) throw TaskError(*changed);
}

std::string TDownTask::ProjectFile() const { return Params->SavePath + Params->TaskName; }
