// Running the levels of a level set one after another on the download controller, coarsest
// first: each level is the controller's ordinary Start with that level's zoom and task name, so
// its files are those of a single task and it continues by the same rule. The set file records a
// level once its download ended complete; later Starts skip it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "download/download_controller.h"
#include "engine/level_set.h"
#include "platform/run_lock.h"

class LevelSetRun {
 public:
  enum class Outcome { kRunning, kRefused, kAlreadyComplete };

  LevelSetRun(DownloadController& controller, ControllerView& view) : controller_(controller), view_(view) {}

  // Starts the set of the field texts over the zoom range (the Zoom text is not read): an
  // unchanged set continues at its first unfinished level, any other set file of that name is
  // replaced once the first level runs. What is refused is shown on the view and changes nothing.
  Outcome Start(const StartInputs& fields, ZoomRange zooms);
  // Continues the set of a set file, its levels in the set file's folder.
  Outcome Resume(const std::string& setFile);
  // To be called once the controller's download has ended: records a complete level and, unless
  // a stop was asked for, starts the next one. True when a level runs again; otherwise the set's
  // lock is let go.
  bool LevelEnded(bool stopWanted);
  // Once a second while a level runs, after the controller's tick.
  void Tick();

  // "level 3 of 7, zoom 12"
  std::string LevelText() const;
  int32_t Zoom() const { return zoom_; }
  // The figures of the whole set: its tiles over every level, done including earlier runs.
  const DownloadProgress& Progress() const { return progress_; }
  // The summary of the set; the failed-tile files named are those of levels that added lines.
  RunSummary Summary() const;
  DownloadEnd End() const { return end_; }
  // Tiles this run added to failed-tile lists, over every level.
  int64_t FailedListed() const { return runCounts_.failed; }
  const LevelSet& Set() const { return set_; }
  const std::string& SetFile() const { return setFile_; }

 private:
  Outcome StartSet(const StartInputs& fields);
  bool LockSet();
  Outcome Ended(Outcome outcome);
  void LetGo();
  bool NextLevel(bool stopWanted);
  bool StartLevel(int32_t zoom);
  bool RecordFinished();
  int64_t FinishedTiles() const;
  int64_t LevelTiles(int32_t zoom) const;
  void BeginProgress();

  DownloadController& controller_;
  ControllerView& view_;
  LevelSet set_;
  std::string setFile_;
  std::vector<int64_t> levelTiles_;  // estimated tiles of each level, coarsest first
  bool setWritten_ = false;          // the set file names this run's set
  qm::RunLock setLock_;              // the set's, while its levels run
  bool madeFolder_ = false;          // made by this run, for the set's lock
  int32_t zoom_ = -1;                // the level in hand
  DownloadEnd end_ = DownloadEnd::kStopped;
  TileCounts runCounts_;             // levels ended in this run; failed: lines added to failed lists
  TileCounts progressBase_;          // of runCounts_, not in the present progress
  std::vector<std::string> failedFiles_;
  DownloadProgress progress_;
  DownloadProgress::Clock::time_point started_{};
  DownloadProgress::Clock::time_point lastUpdate_{};
};
