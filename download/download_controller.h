// Starting, stopping and monitoring a download: the logic behind the main window's Start/Stop
// button and its one-second timer, free of any window toolkit.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "download/Unit3.h"
#include "download/controller_view.h"
#include "download/download_progress.h"
#include "download/download_summary.h"
#include "download/pauses.h"
#include "download/worker_host.h"
#include "download/working_copy.h"
#include "engine/Unitclasstask.h"
#include "platform/run_lock.h"
#include "platform/ui_bridge.h"

// The texts of the main window's fields as the user typed them.
struct StartInputs {
  std::string LeftLongitude;   // Edit1
  std::string RightLongitude;  // Edit3
  std::string TopLatitude;     // Edit2
  std::string BottomLatitude;  // Edit4
  std::string Zoom;            // Edit5
  std::string Folder;          // Edit6
  std::string TaskName;        // EditTaskName
};

// Takes the run lock of file for this run; when another run holds it, or it cannot be made, says
// so in view and gives false.
bool TakeRunLock(ControllerView& view, const std::string& file, qm::RunLock& lock);

class DownloadController : public WorkerHost {
 public:
  static constexpr int kThreadSlots = 8;

  DownloadController(ControllerView& view, qm::UiBridge& bridge, std::string configFileName,
                     DownloadPauses pauses = {}, std::string programFolder = "");
  ~DownloadController() override;

  // The Start/Stop button: starts when its caption is exactly "Start", stops otherwise.
  void BitBtn1Click(const StartInputs& inputs);
  // The one-second timer.
  void Timer1Timer();
  // Whether the timer's end of a download shows the end box; a front end that runs several
  // downloads as one (the levels of a set) shows it once, after the last.
  void SetEndBoxShown(bool shown) { endBoxShown_ = shown; }
  // A saved server to use instead of the one the settings choose (the command line's --server).
  void UseServer(std::string name) { serverName_ = std::move(name); }
  // Only the tiles of this area from the next Start on (null: the whole rectangle). A project of
  // the same fields continues only when it was made with the same area.
  void UseArea(std::shared_ptr<const TaskArea> area) { area_ = std::move(area); }
  const std::shared_ptr<const TaskArea>& Area() const { return area_; }
  // Why the server in use does not serve zoom, or nothing; a server the settings cannot give is
  // left to Start's own checks.
  std::optional<std::string> ServerZoomRefusal(int32_t zoom) const;
  // The file the companions open when started without arguments; Start names its own task.
  void RememberProject(const std::string& file) const;
  // Shows a task's log and failed-tile list without running it (a set whose levels are complete).
  // Only while no download runs.
  void ShowTaskFiles(const std::string& logFile, const std::string& failedFile);
  // Program exit during a download: aborts the requests in flight, waits for every worker while
  // processEvents lets their last calls through, then ends the download without a message box.
  // Must run before the controller is destroyed while a download runs.
  void ShutDown(const std::function<void()>& processEvents);

  bool Running() const { return running_; }
  const std::string& ButtonCaption() const { return caption_; }
  const TDownTask* CurrentTask() const { return currentTask_.get(); }
  const TDownParams* CurrentParams() const { return currentParams_.get(); }
  int RunningThreads() const { return runningThreads_; }
  int TimerTicks() const { return timerTicks_; }
  const WorkingCopy& Log() const { return log_; }
  // The figures of the running or last download, read once a second by the window.
  const DownloadProgress& Progress() const { return progress_; }
  // Stop was pressed and workers are still finishing their tile.
  bool Stopping() const { return running_ && stopRequested_ && runningThreads_ > 0; }
  // Every worker has ended; the next tick ends the download.
  bool WorkersEnded() const { return running_ && runningThreads_ == 0; }
  // How the last download ended; nothing before the first end.
  std::optional<DownloadEnd> LastEnd() const { return lastEnd_; }
  // The summary of the last download, or of the running one once its workers have ended.
  RunSummary Summary() const;
  // Tiles the running or last download added to the failed-tile list.
  int64_t FailedListed() const { return failedListed_; }
  // A new task above either figure asks before it starts.
  static constexpr int64_t kConfirmTiles = 100000;
  static constexpr int64_t kConfirmListBytes = 1000000000;
  const WorkingCopy& Failed() const { return failed_; }

  // Worker reports, run on the user-interface thread.
  void AddLog(const std::string& line) override;
  void AddFailed(const std::string& line) override;
  void ThreadDone(int threadIndex) override;

 private:
  void Start(const StartInputs& inputs);
  void Stop();
  std::optional<TDownParams> ValidatedParams(const StartInputs& inputs);
  bool BuildTask(std::shared_ptr<TDownParams> params);
  bool WriteTaskFilesAndLoadViews();
  void StartWorkers();
  bool ConfirmedLargeDownload(const StartInputs& inputs);
  bool SettingsRefused(const TDownParams& params);
  void UpdateProgress();
  DownloadEnd EndOfDownload() const;
  void SaveProgress();
  void SaveWorkerPositions();
  void SaveViews();
  void EndDownload(bool showMessage);
  void SetCaption(const std::string& caption);
  int ThreadCount() const;

  ControllerView& view_;
  qm::UiBridge& bridge_;
  std::string configFileName_;
  DownloadPauses pauses_;
  std::string programFolder_;

  std::shared_ptr<TDownParams> currentParams_;  // the latest start attempt
  std::shared_ptr<TDownParams> taskParams_;     // the record the current task was built from
  std::unique_ptr<TDownTask> currentTask_;
  int timerTicks_ = 0;
  int runningThreads_ = 0;
  bool running_ = false;
  bool inTick_ = false;        // a modal box inside a tick must not let another tick in
  bool shuttingDown_ = false;  // no tick may end the download while ShutDown waits
  std::string caption_ = "Start";
  bool stopRequested_ = false;
  bool endBoxShown_ = true;
  std::string serverName_;
  std::shared_ptr<const TaskArea> area_;
  qm::RunLock runLock_;  // the project's, from Start to the end of the download
  DownloadProgress progress_;
  std::optional<DownloadEnd> lastEnd_;
  int64_t failedListed_ = 0;
  WorkingCopy log_;
  WorkingCopy failed_;
  // Last, so the workers are gone before the task and records they read.
  std::array<std::unique_ptr<TDownThread>, kThreadSlots> downThreads_;
};
