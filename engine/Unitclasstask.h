// The download task: its parameter record, the task, the tile source and the task files.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/area_cover.h"
#include "engine/task_area.h"
#include "engine/tile_server_setting.h"
#include "platform/file_ops.h"

// The inputs of one run, filled by Start and read-only once the task is built.
struct TDownParams {
  double LeftLongitude = 0;
  double RightLongitude = 0;
  double TopLatitude = 0;
  double BottomLatitude = 0;
  int32_t Zoom = 1;
  int32_t ThreadCount = 8;   // lowered by Start to the tile count when that is smaller
  int32_t ThreadSlots = 8;   // key pairs in a new project file's [THREADS] section
  int32_t MapsType = 4;
  std::string SavePath;      // ends with the path separator
  std::string TaskName;      // the project file's name inside SavePath, with its extension
  bool UseProxy = false;
  std::string ProxyServer;
  std::string ProxyPort;
  std::string ProxyUsername;
  std::string ProxyPassword;
  bool Resume = false;
  std::string TileServer = kDefaultTileServer;  // "host" or "host:port" of the tile server
  std::vector<std::pair<std::string, std::string>> Headers;  // a saved server's request headers
  std::shared_ptr<const TaskArea> Area;  // only the tiles of this shape; none: the whole rectangle
};

// A task that cannot be built; what() is the text to show the user.
class TaskError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The tile grid has 2^zoom columns and rows held in 32 bits; beyond zoom 30 tile numbers wrap.
inline constexpr int32_t kMaxGridZoom = 30;
inline bool IsGridZoom(int32_t zoom) { return zoom >= 0 && zoom <= kMaxGridZoom; }
std::string ZoomOutsideGridText(int32_t zoom);

// One task holds at most this many tiles, so that every count and sequence number fits 32 bits.
inline constexpr int64_t kMaxTaskTiles = 2147483647;

// Built on the user-interface thread; read-only afterwards, read by the workers without locks.
class TDownTask {
 public:
  // Computes the tile range, its edges and count, the file paths, creates the tile folder and,
  // when resuming, loads each worker's last position from the project file. Throws TaskError
  // when the area holds too many tiles (before anything is created) or the tile folder cannot be
  // created; qm::FileError may escape from the file layer.
  explicit TDownTask(TDownParams* params);

  static constexpr int kResumeSlots = 16;
  int32_t ResumeX[kResumeSlots] = {};  // column of the last tile worker i finished; 0 means none
  int32_t ResumeY[kResumeSlots] = {};  // its row; 0 means none
  TDownParams* Params;                 // not owned
  int32_t MinX = 0;
  int32_t MinY = 0;
  int32_t MaxX = 0;
  int32_t MaxY = 0;
  double Left_Longitude_download = 0;
  double Right_Longitude_download = 0;
  double Top_Latitude_download = 0;
  double Bottom_Latitude_download = 0;
  int32_t TotalCount = 0;
  std::shared_ptr<const AreaCover> Cover;  // the area's tiles inside the range; null without an area
  std::string AreaFile;                    // NAME_area.geojson beside the project, with an area
  std::string LogFile;
  std::string FailedFile;
  std::string ListFile;
  std::string TileDir;  // ends with the path separator

  std::string ProjectFile() const;  // SavePath + TaskName

 private:
  void CheckAreaUnchanged(int64_t tiles) const;
};

// The extension of a task name: from its last dot on, dot included; "" when it has none.
std::string TaskExtension(const std::string& taskName);
// The task name without its extension (from its last dot on); a name without a dot is its own stem.
std::string TaskStem(const std::string& taskName);
// The refusal shown for an area of more than kMaxTaskTiles tiles.
std::string TooManyTilesText(int64_t tileCount);

// Tile source: file name, path, extension and URL of a tile of the task.
std::string TileFileName(const TDownTask& task, int32_t x, int32_t y);  // kv_2412_3080_13.jpg
std::string TileFilePath(const TDownTask& task, int32_t x, int32_t y);  // TileDir + file name
std::string TileExtension(const TDownTask& task);                      // "jpg", no dot
std::string TileUrl(const TDownTask& task, int32_t x, int32_t y);       // http://<TileServer>/...

// The four task files. With Params->Resume set, the first, second and fourth do nothing and the
// log gets a continuation block instead of a new header. WriteProjectFile also writes the area
// file of a task with an area. Errors of the file layer (qm::FileError)
// reach the caller; every file is replaced atomically.
void WriteProjectFile(const TDownTask& task);
void WriteListFile(const TDownTask& task);
void WriteLogHeader(const TDownTask& task);
void CreateFailedList(const TDownTask& task);

// The tile list written in two steps, so that the project file can still come first while the
// long part can be cancelled: Prepare streams the list into a temporary file beside ListFile,
// asking keepGoing every so many tiles with the count so far; Commit gives it its name. A list
// that is cancelled (keepGoing said false) or dropped before Commit leaves nothing behind.
class PendingTileList {
 public:
  // Nothing to write when the task is continued.
  PendingTileList(const TDownTask& task, const std::function<bool(int64_t tilesWritten)>& keepGoing);
  ~PendingTileList();
  bool Cancelled() const { return cancelled_; }
  void Commit();

 private:
  std::unique_ptr<qm::AtomicFileWriter> file_;
  bool cancelled_ = false;
};
