// Runs download workers of a small task against a test server and records what they report.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "download/Unit3.h"
#include "download/pauses.h"
#include "download/worker_host.h"
#include "engine/Unitclasstask.h"
#include "platform/ui_bridge.h"
#include "tests/support/temp_dir.h"

namespace qmtest {

// Records every report, in the order the user-interface thread ran them.
class RecordingHost : public WorkerHost {
 public:
  struct Event {
    char window;  // 'L' log, 'F' failed-tile, 'D' ThreadDone
    std::string text;
  };
  void AddLog(const std::string& line) override;
  void AddFailed(const std::string& line) override;
  void ThreadDone(int threadIndex) override;

  std::vector<std::string> log;
  std::vector<std::string> failed;
  std::vector<int> done;
  std::vector<Event> events;
};

// A task of zoom 13 over the columns and rows given, its tile folder in a temporary folder, the
// tile server at serverHostPort, and a program folder holding blankimg/blank.jpg ("BLANK").
class WorkerHarness {
 public:
  static constexpr int kZoom = 13;
  static constexpr int32_t kMinX = 2412;
  static constexpr int32_t kMinY = 3080;

  WorkerHarness(const std::string& serverHostPort, int32_t columns, int32_t rows,
                int threadCount);
  ~WorkerHarness();

  // Starts the workers with these indexes (all of them when empty).
  void Start(DownloadPauses pauses = DownloadPauses::Zero(), std::vector<int> indexes = {});
  // Pumps the bridge until every started worker has reported its end.
  bool WaitUntilDone(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Pumps the bridge until pred() holds.
  bool PumpUntil(const std::function<bool()>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30));

  std::string Url(int32_t x, int32_t y) const { return TileUrl(*task, x, y); }
  std::string FileName(int32_t x, int32_t y) const { return TileFileName(*task, x, y); }
  std::string FilePath(int32_t x, int32_t y) const { return TileFilePath(*task, x, y); }
  std::string BlankFolder() const { return programDir.Path(); }
  // Lines of the log that belong to worker number n ("T<n>" prefix).
  std::vector<std::string> LogOf(int n) const;

  TempDir saveDir;
  TempDir programDir;
  TDownParams params;
  std::unique_ptr<TDownTask> task;
  RecordingHost host;
  qm::PumpedBridge bridge;
  std::string programFolder;  // where the workers look for blankimg/
  std::vector<std::unique_ptr<TDownThread>> workers;
};

}  // namespace qmtest
