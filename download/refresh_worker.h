// One worker of a refresh: its own client and thread, its share of the stored tiles in order, a
// download's pace, and its last finished tile and counts for the run to read at any time.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/refresh_fetch.h"
#include "download/refresh_run.h"

class RefreshWorker final : private RefreshFetchWorker {
 public:
  RefreshWorker(int index, RefreshRun& run, std::vector<StoredTile> share, std::optional<StoredTile> last);
  ~RefreshWorker() override;  // waits for the thread
  RefreshWorker(const RefreshWorker&) = delete;
  RefreshWorker& operator=(const RefreshWorker&) = delete;

  void Start();
  void AbortRequest() { client_.Abort(); }
  void Join();

  std::optional<StoredTile> Last() const;
  RefreshCounts Counts() const;
  // How the walk ended: every tile of the share asked, or the outcome that ended it early.
  bool WalkedAll() const { return walkedAll_.load(); }
  RefreshOutcome EndedBy() const { return endedBy_.load(); }

 private:
  void Execute();
  void Walk();
  void Count(RefreshOutcome outcome);
  bool IsBlankStandIn(const std::string& path) const;
  // Waits ms unless the run is aborted, or also stopped when endsOnStop; false when cut short.
  bool Wait(int ms, bool endsOnStop);

  // RefreshFetchWorker
  qm::HttpResult Get(const std::string& url, const ConditionHeaders& conditions, std::string& body,
                     std::chrono::milliseconds timeLimit) override;
  void Log(const std::string& line) override;
  void Pause(int ms) override { Wait(ms, false); }
  bool WaitForServer(int ms) override { return Wait(ms, true); }
  bool Aborted() const override;

  const int index_;
  RefreshRun& run_;
  const std::vector<StoredTile> share_;
  qm::HttpClient client_;
  const std::optional<StoredTile> resumedFrom_;
  std::atomic<int64_t> lastIndex_{-1};  // in share_ of the last finished tile; -1: resumedFrom_
  std::atomic<int64_t> unchanged_{0}, changed_{0}, kept_{0}, failed_{0};
  std::atomic<bool> walkedAll_{false};
  std::atomic<RefreshOutcome> endedBy_{RefreshOutcome::kUnchanged};
  std::thread thread_;  // last
};
