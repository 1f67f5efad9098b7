// The refresh of a downloaded project: its stored tiles asked again with conditional requests by
// up to eight workers at a download's pace and in its order and shares. A tile the server has
// changed is replaced atomically; anything else leaves the stored tile as it is. The run writes
// NAME_refresh_log.txt and NAME_refresh_failed.ftl beside the project file and keeps its
// positions in the project file, so a stopped refresh continues; nothing else of the task changes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "download/pauses.h"
#include "download/refresh_tiles.h"
#include "download/tile_judge.h"
#include "engine/project_area.h"
#include "engine/saved_servers.h"
#include "platform/http_client.h"
#include "platform/run_lock.h"

// A project that cannot be refreshed; what() is the text for the user.
class RefreshRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RefreshSettings {
  std::string tileServer;  // as a download uses it
  RequestHeaders headers{};
  std::string serverName{};  // the saved server's; empty for the plain setting
  int32_t maxZoom = kHighestServerZoom;  // the highest the server serves
  std::optional<qm::ProxySettings> proxy{};
  std::optional<int> olderThanDays{};  // none: every stored tile
  DownloadPauses pauses{};
  std::string blankPath{};  // the blank stand-in of failed tiles: such a tile is asked unconditionally
  // Judges a new answer by decoding it before it replaces a tile; without one, an answer that
  // starts like an image is taken, as a download takes it.
  std::shared_ptr<TileJudge> judge{};
};

// The tile server, headers and proxy a download from the settings file would use, and the judging
// program beside this one; server names a saved server, empty the one the settings choose. Throws UnknownServer, or std::runtime_error
// with the message when the proxy port is not usable.
RefreshSettings ReadRefreshSettings(const std::string& configFile, const std::string& server);

struct RefreshCounts {
  int64_t unchanged = 0;
  int64_t changed = 0;
  int64_t kept = 0;
  int64_t failed = 0;
  int64_t Done() const { return unchanged + changed + kept + failed; }
};

enum class RefreshEnd {
  kComplete,     // every tile asked; the positions are cleared
  kStopped,      // stopped: the positions are kept for the next refresh
  kWorkerEnded,  // the server refused a worker or the network failed
  kFileError,    // a tile, the log or the list could not be written
};

struct RefreshReport {
  std::string name;  // the task's stem
  int64_t tiles = 0;  // the stored tiles this run had to ask
  RefreshCounts counts;
  RefreshEnd end = RefreshEnd::kComplete;
  bool continued = false;  // went on from a refresh stopped before
  std::string failedList;
};

class RefreshWorker;

class RefreshRun {
 public:
  // Locks the project, reads it and lists its stored tiles. Throws qm::InUseError when another
  // run holds the project, RefreshRefused when it holds no download, its zoom is beyond the
  // server's highest, its tile folder is gone or its area file is gone or changed, qm::FileError when the folder cannot be read or the lock file made.
  RefreshRun(std::string projectFile, RefreshSettings settings, std::time_t now = std::time(nullptr));
  ~RefreshRun();
  RefreshRun(const RefreshRun&) = delete;
  RefreshRun& operator=(const RefreshRun&) = delete;

  const std::string& Name() const { return area_.name; }  // the task's stem
  int32_t Zoom() const { return area_.zoom; }
  int64_t Tiles() const { return tiles_; }
  bool Continues() const { return continues_; }

  // Runs the workers to their end; meanwhile the calling thread keeps the positions in the
  // project file and calls onTick about once a second. Throws qm::FileError when the log, the
  // list or the project file cannot be written before the workers start.
  RefreshReport Run(const std::function<void()>& onTick = {});
  // From any thread: the workers end after their tile (Stop), or at once with their requests
  // aborted (Abort).
  void Stop();
  void Abort();
  // From any thread, while Run runs and after.
  RefreshCounts Counts() const;

 private:
  friend class RefreshWorker;
  void Log(const std::string& line);
  void List(const std::string& line);
  void WorkerEnded();
  void Begin();
  void StartWorkers();
  void SavePositions();
  RefreshEnd EndOfRun() const;

  const std::string projectFile_;
  qm::RunLock lock_;  // the project's, for the run's whole life
  const RefreshSettings settings_;
  const std::time_t now_;
  ProjectArea area_;
  RefreshPositions positions_;
  std::vector<StoredTile> stored_;
  int64_t tiles_ = 0;
  bool continues_ = false;
  std::string logFile_;
  std::string failedFile_;
  std::string blank_;  // the blank stand-in's bytes; empty when there is none

  std::mutex fileMutex_;  // the log and the list
  mutable std::mutex mutex_;  // workers_, ended_, and the pauses' wake-up
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> abort_{false};
  int ended_ = 0;
  std::vector<std::unique_ptr<RefreshWorker>> workers_;
};

// "Refresh of NAME: 1,200 tiles · unchanged 1,150 · changed 40 · kept 8 · failed 2", with
// "stopped" and the failed-tile list named when they apply.
std::string RefreshSummaryText(const RefreshReport& report);
