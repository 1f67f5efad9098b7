// TDownThread: one download worker that walks the task's tiles, fetches its own share and
// reports each line and its end to the user-interface thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "download/download_progress.h"
#include "download/pauses.h"
#include "download/tile_fetch.h"
#include "download/worker_host.h"
#include "engine/Unitclasstask.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"
#include "platform/http_client.h"
#include "platform/ui_bridge.h"

class TDownThread : private TileFetchWorker {
 public:
  // Starts running at once. task, host and bridge must outlive the worker.
  TDownThread(int threadIndex, const TDownTask* task, WorkerHost& host, qm::UiBridge& bridge,
              DownloadPauses pauses = {}, std::string programFolder = qm::DataFolder());
  // Asks the worker to stop and waits for its thread. The user-interface thread must keep
  // running the bridge's calls until ThreadDone has been reported, or this waits forever.
  ~TDownThread() override;
  TDownThread(const TDownThread&) = delete;
  TDownThread& operator=(const TDownThread&) = delete;

  // Sets Terminated; the worker ends after its current tile, or at once while it waits for a
  // busy server. Never waits.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // For program exit: Terminate, abort the request in flight and cut short any pause. The tile
  // in flight is dropped without lines; the worker still writes " Finished." and ThreadDone.
  void AbortRequests();

  // Column and row of the last tile this worker finished, (0, 0) before the first; read as one
  // value, so the pair always belongs to one tile.
  std::pair<int32_t, int32_t> LastPosition() const;

  // The tiles this worker finished so far by outcome, and why it left its walk early, if it did.
  // Safe to read while the worker runs.
  TileCounts Counts() const;
  WorkerEnd End() const { return end_.load(); }

  const int32_t ThreadIndex;

 private:
  void Execute();
  bool SetUpClient();
  void Walk();
  void ReleaseClient();
  void Report(void (WorkerHost::*add)(const std::string&), const std::string& line);
  void AddLogIfPossible(const std::string& line);

  // TileFetchWorker
  qm::HttpResult Get(const std::string& url, std::string& body, std::chrono::milliseconds timeLimit) override;
  void AddLog(const std::string& line) override;
  void AddFailed(const std::string& line) override;
  void Pause(int ms) override;
  bool WaitForServer(int ms) override;
  bool Aborted() const override { return aborted_.load(); }
  void SetLastPosition(int32_t x, int32_t y) override;
  void TileEnded(FetchOutcome outcome, bool answerIsImage) override;

  const TDownTask* Task;
  std::string LogText;
  std::unique_ptr<qm::HttpClient> Client;  // guarded by clientMutex_ against AbortRequests
  WorkerHost& host_;
  qm::UiBridge& bridge_;
  const DownloadPauses pauses_;
  const std::string programFolder_;

  std::atomic<uint64_t> lastPosition_{0};
  std::atomic<int64_t> stored_{0};
  std::atomic<int64_t> blank_{0};
  std::atomic<int64_t> failed_{0};
  std::atomic<int64_t> notImages_{0};
  std::atomic<WorkerEnd> end_{WorkerEnd::kNone};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> aborted_{false};
  std::mutex clientMutex_;
  std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
  std::thread thread_;  // last: starts once everything above is in place
};
