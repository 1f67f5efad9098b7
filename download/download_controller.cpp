// Start/Stop, the monitoring timer and the end of a download.
#include "download/download_controller.h"

#include <unistd.h>

#include <chrono>
#include <system_error>
#include <thread>

#include "engine/area_input.h"
#include "engine/saved_servers.h"
#include "engine/tile_source.h"
#include "platform/ca_file.h"
#include "platform/date_time.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"
#include "platform/run_lock.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"

namespace {

constexpr const char* kProjectExtension = ".qmtp";

std::string WithProjectExtension(const std::string& name) {
  return TaskExtension(name) == kProjectExtension ? name : name + kProjectExtension;
}

// A name whose stem is "." or ".." or that holds a separator would put the task's files and
// tile folder outside the chosen folder.
bool IsPlainTaskName(const std::string& taskName) {
  const std::string stem = TaskStem(taskName);
  return taskName.find(qm::kPathSeparator) == std::string::npos && stem != "." && stem != "..";
}

// The companion programs open the last task built when they are started without arguments. A
// settings file that cannot take the key only costs them that choice.
void RecordLastProject(const std::string& configFile, const std::string& projectFile) {
  try {
    qm::IniFile(configFile).WriteString("IniParas", "LastProject", projectFile);
  } catch (const qm::FileError&) {
  }
}

// An existing project is continued only when it was made from exactly the same fields.
bool ProjectMatches(const StartInputs& in, const std::string& savePath, const std::string& taskName,
                    int32_t zoom) {
  const std::string projectFile = savePath + taskName;
  if (!qm::FileExists(projectFile)) return false;
  const qm::IniFile project(projectFile);
  return project.ReadInteger("MapsType", "MapsType", 100) == 4 &&
         project.ReadString("AREA", "LeftLongitude", "") == in.LeftLongitude &&
         project.ReadString("AREA", "RightLongitude", "") == in.RightLongitude &&
         project.ReadString("AREA", "TopLatitude", "") == in.TopLatitude &&
         project.ReadString("AREA", "BottomLatitude", "") == in.BottomLatitude &&
         project.ReadInteger("Zoom", "Zoom", 100) == zoom &&
         qm::ExtractFilePath(projectFile) == qm::WithTrailingSeparator(in.Folder) &&
         qm::ExtractFileName(projectFile) == in.TaskName;
}

}  // namespace

DownloadController::DownloadController(ControllerView& view, qm::UiBridge& bridge,
                                       std::string configFileName, DownloadPauses pauses,
                                       std::string programFolder)
    : view_(view),
      bridge_(bridge),
      configFileName_(std::move(configFileName)),
      pauses_(pauses),
      programFolder_(programFolder.empty() ? qm::DataFolder() : std::move(programFolder)) {}

DownloadController::~DownloadController() {
  for (auto& worker : downThreads_) {
    if (worker) worker->AbortRequests();
  }
}

void DownloadController::BitBtn1Click(const StartInputs& inputs) {
  if (caption_ == "Start") {
    Start(inputs);
  } else {
    Stop();
  }
}

std::optional<std::string> DownloadController::ServerZoomRefusal(int32_t zoom) const {
  try {
    return ZoomBeyondServerText(ReadServerInUse(configFileName_, serverName_), zoom);
  } catch (const ServerRefused&) {
    return std::nullopt;
  }
}

void DownloadController::RememberProject(const std::string& file) const { RecordLastProject(configFileName_, file); }

void DownloadController::ShowTaskFiles(const std::string& logFile, const std::string& failedFile) {
  if (running_) return;
  // A file the user removed shows as empty: there is nothing of it to show.
  for (auto [copy, file] : {std::pair{&log_, &logFile}, std::pair{&failed_, &failedFile}}) {
    try {
      copy->LoadFromFile(*file);
    } catch (const qm::FileError&) {
      copy->Clear();
    }
  }
  view_.LogReplaced(log_.Lines());
  view_.FailedReplaced(failed_.Lines());
}

void DownloadController::Start(const StartInputs& inputs) {
  const bool folderExisted = qm::DirectoryExists(inputs.Folder);
  std::optional<TDownParams> params = ValidatedParams(inputs);
  if (!params) return;
  // Held from here to the end of the download; let go on every way out before it starts.
  qm::RunLock lock;
  if (!TakeRunLock(view_, params->SavePath + params->TaskName, lock)) return;
  params->Resume = ProjectMatches(inputs, params->SavePath, params->TaskName, params->Zoom) &&
                   SameAreaAs(params->SavePath + params->TaskName, area_ ? &area_->geoJson : nullptr);
  if (!params->Resume && !ConfirmedLargeDownload(inputs)) {
    // A folder that Start's checks created for the task goes again, its lock file first.
    lock.Release();
    if (!folderExisted) ::rmdir(inputs.Folder.c_str());
    return;
  }
  currentParams_ = std::make_shared<TDownParams>(*params);
  const bool tileDirExisted = qm::DirectoryExists(params->SavePath + TaskStem(params->TaskName));
  std::unique_ptr<TDownTask> previousTask = std::move(currentTask_);
  std::shared_ptr<TDownParams> previousParams = taskParams_;
  if (!BuildTask(currentParams_)) {
    currentTask_ = std::move(previousTask);
    return;
  }
  try {
    if (!WriteTaskFilesAndLoadViews()) {
      // Cancelled while the tile list was written: everything is as it was before Start.
      lock.Release();
      if (!tileDirExisted) ::rmdir(currentTask_->TileDir.c_str());
      if (!folderExisted) ::rmdir(inputs.Folder.c_str());
      currentTask_ = std::move(previousTask);
      taskParams_ = std::move(previousParams);
      return;
    }
  } catch (const qm::FileError& e) {
    view_.ShowError(e.what());
    return;
  }
  RecordLastProject(configFileName_, currentTask_->ProjectFile());
  runLock_ = std::move(lock);
  view_.SetTotalLabel("Total images: " + std::to_string(currentTask_->TotalCount));
  SetCaption("Stop");
  running_ = true;
  stopRequested_ = false;
  failedListed_ = 0;
  progress_.Begin(currentTask_->TotalCount, TilesFinishedBefore(*currentTask_), DownloadProgress::Clock::now());
  try {
    StartWorkers();
  } catch (const std::system_error& e) {
    // The workers that did start are stopped; the timer still ends the download.
    view_.ShowError(std::string("Cannot start a download worker: ") + e.what());
    Stop();
  }
  timerTicks_ = 0;
  view_.SetTimerEnabled(true);
}

// A new task of many tiles (or a very large tile list) goes ahead only when the user agrees.
bool DownloadController::ConfirmedLargeDownload(const StartInputs& in) {
  const AreaEstimateOrReason area =
      EstimateArea(in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude, in.Zoom);
  if (!area.estimate) return true;  // the task's own checks speak for it
  AreaEstimate e = *area.estimate;
  if (area_) {
    try {
      e = EstimateInArea(e, *area_, *qm::IntegerFromText(in.Zoom));
    } catch (const TaskError&) {
      return true;  // the task says why
    }
  }
  // An area beyond one task's limit is refused by the task itself: nothing to ask.
  if (e.tiles > kMaxTaskTiles) return true;
  if (e.tiles <= kConfirmTiles && e.listBytes <= kConfirmListBytes) return true;
  return view_.ConfirmLargeDownload("This area holds " + EstimateText(e) + ".\n\nStart the download?");
}

// Reads the settings and checks the fields in their fixed order; shows the first failure.
std::optional<TDownParams> DownloadController::ValidatedParams(const StartInputs& in) {
  const qm::IniFile config(configFileName_);
  TDownParams p;
  p.UseProxy = config.ReadInteger("Proxy", "UseProxy", 0) == 1;
  p.ProxyServer = config.ReadString("Proxy", "ProxyServer", "");
  p.ProxyPort = config.ReadString("Proxy", "ProxyPort", "");
  p.ProxyUsername = config.ReadString("Proxy", "ProxyUsername", "");
  p.ProxyPassword = config.ReadString("Proxy", "ProxyPassword", "");
  ServerInUse server;
  try {
    server = ReadServerInUse(configFileName_, serverName_);
  } catch (const ServerRefused& e) {
    view_.ShowMessage(e.what());
    return std::nullopt;
  }
  p.TileServer = server.tileServer;
  p.Headers = server.headers;
  if (SettingsRefused(p)) return std::nullopt;

  const std::optional<int32_t> zoom = qm::IntegerFromText(in.Zoom);
  if (!zoom) {
    view_.ShowError("'" + in.Zoom + "' is not a valid integer value");
    return std::nullopt;
  }
  if (!IsGridZoom(*zoom)) {
    view_.ShowMessage(ZoomOutsideGridText(*zoom));
    return std::nullopt;
  }
  if (const auto beyond = ZoomBeyondServerText(server, *zoom)) {
    view_.ShowMessage(*beyond);
    return std::nullopt;
  }
  if (!IsPlainTaskName(WithProjectExtension(in.TaskName))) {
    view_.ShowMessage("The task name \"" + in.TaskName + "\" is not a plain file name: it should not contain \"" +
                      std::string(1, qm::kPathSeparator) + "\" nor be \".\" or \"..\".");
    return std::nullopt;
  }
  if (in.Folder.empty()) {
    view_.ShowMessage("Please select a path to save the images.");
    return std::nullopt;
  }
  if (!qm::DirectoryExists(in.Folder) && !qm::CreateDirectory(in.Folder)) {
    view_.ShowMessage("Create directory " + in.Folder + " Failed.");
    return std::nullopt;
  }
  p.SavePath = qm::WithTrailingSeparator(in.Folder);

  const auto left = CoordinateFromText(in.LeftLongitude);
  const auto right = CoordinateFromText(in.RightLongitude);
  const auto top = CoordinateFromText(in.TopLatitude);
  const auto bottom = CoordinateFromText(in.BottomLatitude);
  if (!left || !right || !top || !bottom) {
    view_.ShowMessage("Longitude or latitude input error!");
    return std::nullopt;
  }
  p.LeftLongitude = *left;
  p.RightLongitude = *right;
  p.TopLatitude = *top;
  p.BottomLatitude = *bottom;
  if (const auto error = RectangleError({*left, *right, *top, *bottom})) {
    view_.ShowMessage(*error);
    return std::nullopt;
  }

  runningThreads_ = 0;
  p.Zoom = *zoom;
  p.ThreadCount = kThreadSlots;
  p.ThreadSlots = kThreadSlots;
  p.MapsType = 4;
  p.TaskName = WithProjectExtension(in.TaskName);
  p.Area = area_;
  return p;
}

// Another run on the same project (in this process or another) refuses this one before it writes
// anything; so does a lock file that cannot be made.
bool TakeRunLock(ControllerView& view, const std::string& file, qm::RunLock& lock) {
  try {
    lock = qm::RunLock::Take(file);
    return true;
  } catch (const qm::InUseError& e) {
    view.ShowMessage(e.what());
  } catch (const qm::FileError& e) {
    view.ShowError(e.what());
  }
  return false;
}

// Settings that would fail every tile are refused before anything else: a malformed URL
// template, a proxy turned on without a server, an unreadable certificate authority file.
bool DownloadController::SettingsRefused(const TDownParams& p) {
  std::optional<std::string> problem;
  if (IsTileUrlTemplate(p.TileServer)) problem = TileUrlTemplateProblem(p.TileServer);
  if (!problem && p.UseProxy && p.ProxyServer.empty()) {
    problem = "The proxy is turned on but no proxy server is set: set one in Options, or turn the proxy off.";
  }
  if (!problem) problem = qm::CaFileProblem();
  if (problem) view_.ShowMessage(*problem);
  return problem.has_value();
}

bool DownloadController::BuildTask(std::shared_ptr<TDownParams> params) {
  std::unique_ptr<TDownTask> task;
  try {
    task = std::make_unique<TDownTask>(params.get());
  } catch (const TaskError& e) {
    view_.ShowMessage(e.what());
    view_.ShowMessage("Error: Create task failure.");
    return false;
  }
  // Workers of the previous run have all been released by now; its task can go.
  currentTask_ = std::move(task);
  taskParams_ = std::move(params);
  if (currentTask_->TotalCount < taskParams_->ThreadCount) {
    taskParams_->ThreadCount = currentTask_->TotalCount;
  }
  return true;
}

// Returns false, having written no task file, when the user cancels the tile list.
bool DownloadController::WriteTaskFilesAndLoadViews() {
  for (const std::string& file : {currentTask_->ProjectFile(), currentTask_->ListFile, currentTask_->LogFile,
                                  currentTask_->FailedFile, currentTask_->AreaFile}) {
    if (file.empty()) continue;
    qm::RemoveStaleTemporaryFiles(file);
  }
  RemoveTileLeftovers(*currentTask_);
  const int64_t total = currentTask_->TotalCount;
  PendingTileList list(*currentTask_, [this, total](int64_t written) { return view_.ListProgress(written, total); });
  if (list.Cancelled()) return false;
  WriteProjectFile(*currentTask_);
  list.Commit();
  WriteLogHeader(*currentTask_);
  CreateFailedList(*currentTask_);
  log_.LoadFromFile(currentTask_->LogFile);
  failed_.LoadFromFile(currentTask_->FailedFile);
  view_.LogReplaced(log_.Lines());
  view_.FailedReplaced(failed_.Lines());
  return true;
}

void DownloadController::StartWorkers() {
  for (int i = 0; i < taskParams_->ThreadCount; ++i) {
    downThreads_[i].reset();
    downThreads_[i] = std::make_unique<TDownThread>(i, currentTask_.get(), *this, bridge_, pauses_,
                                                    programFolder_);
    ++runningThreads_;
  }
}

void DownloadController::Stop() {
  stopRequested_ = true;
  for (int i = 0; i < ThreadCount(); ++i) {
    if (!downThreads_[i]) continue;
    downThreads_[i]->Terminate();
    AddLog("Thread" + std::to_string(i + 1) + "will be terminated by user. please wait...");
  }
}

void DownloadController::Timer1Timer() {
  if (!running_ || inTick_ || shuttingDown_) return;
  inTick_ = true;
  struct TickEnd {
    bool& flag;
    ~TickEnd() { flag = false; }
  } tickEnd{inTick_};
  ++timerTicks_;
  UpdateProgress();
  if (timerTicks_ % 5 == 0) {
    try {
      SaveProgress();
    } catch (const qm::FileError& e) {
      // The rest of this tick is skipped; the next tick, which saves nothing, can end the run.
      view_.ShowError(e.what());
      return;
    }
  }
  if (runningThreads_ == 0) EndDownload(endBoxShown_);
}

void DownloadController::UpdateProgress() {
  TileCounts counts;
  for (int i = 0; i < ThreadCount(); ++i) {
    if (downThreads_[i]) counts += downThreads_[i]->Counts();
  }
  progress_.Update(counts, DownloadProgress::Clock::now());
}

// The first worker that left its walk early names the reason; otherwise the task is complete
// when no tile is left, and was stopped when some are.
DownloadEnd DownloadController::EndOfDownload() const {
  for (int i = 0; i < ThreadCount(); ++i) {
    switch (downThreads_[i] ? downThreads_[i]->End() : WorkerEnd::kNone) {
      case WorkerEnd::kRefused:
        return DownloadEnd::kRefused;
      case WorkerEnd::kNetworkFailure:
        return DownloadEnd::kNetworkFailure;
      case WorkerEnd::kFileError:
        return DownloadEnd::kFileError;
      case WorkerEnd::kNone:
        break;
    }
  }
  return progress_.Left() == 0 ? DownloadEnd::kComplete : DownloadEnd::kStopped;
}

void DownloadController::SaveProgress() {
  SaveWorkerPositions();
  SaveViews();
}

void DownloadController::SaveWorkerPositions() {
  std::vector<qm::IniFile::KeyValuePair> values;
  for (int index = 0; index < ThreadCount(); ++index) {
    if (!downThreads_[index]) continue;
    const auto [x, y] = downThreads_[index]->LastPosition();
    const std::string key = "T" + std::to_string(index + 1);
    if (x > 0) values.emplace_back(key + "X", std::to_string(x));
    if (y > 0) values.emplace_back(key + "Y", std::to_string(y));
  }
  // All of them in one replacement of the file: a column and its row always belong to one tile,
  // and the file is flushed to disk once per save rather than once per worker.
  if (!values.empty()) qm::IniFile(currentTask_->ProjectFile()).WriteStrings("THREADS", values);
}

void DownloadController::SaveViews() {
  log_.SaveToFile(currentTask_->LogFile);
  failed_.SaveToFile(currentTask_->FailedFile);
}

// Closes the log, saves everything, releases the workers and returns the window to idle; a
// failing save is reported but never keeps the window from returning to idle.
void DownloadController::EndDownload(bool showMessage) {
  view_.SetTimerEnabled(false);
  for (const std::string& line :
       {std::string(), std::string(32, '-'), std::string("Task Stoped!"), std::string(),
        "Now time:" + qm::NowDateTimeText(), std::string(),
        "Log file has been saved as " + currentTask_->LogFile}) {
    AddLog(line);
  }
  std::string error;
  try {
    SaveViews();
  } catch (const qm::FileError& e) {
    error = e.what();
  }
  try {
    SaveWorkerPositions();
  } catch (const qm::FileError& e) {
    if (error.empty()) error = e.what();
  }
  UpdateProgress();
  lastEnd_ = EndOfDownload();
  for (int i = 0; i < ThreadCount(); ++i) downThreads_[i].reset();
  runLock_.Release();
  running_ = false;
  SetCaption("Start");
  view_.StatusChanged();
  if (!error.empty()) view_.ShowError(error);
  if (showMessage) view_.ShowMessage("Task stoped!" + std::string(20, ' '));
}

void DownloadController::ShutDown(const std::function<void()>& processEvents) {
  if (!running_) return;
  shuttingDown_ = true;
  view_.SetTimerEnabled(false);
  for (auto& worker : downThreads_) {
    if (worker) worker->AbortRequests();
  }
  while (runningThreads_ > 0) {
    processEvents();
    if (runningThreads_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EndDownload(false);
  shuttingDown_ = false;
}

void DownloadController::AddLog(const std::string& line) {
  log_.Append(line);
  view_.LogAppended(line);
}

void DownloadController::AddFailed(const std::string& line) {
  if (running_) ++failedListed_;
  failed_.Append(line);
  view_.FailedAppended(line);
}

void DownloadController::ThreadDone(int /*threadIndex*/) {
  --runningThreads_;
  if (running_ && runningThreads_ == 0) {
    UpdateProgress();
    view_.StatusChanged();
  }
}

RunSummary DownloadController::Summary() const {
  const DownloadEnd end = running_ ? EndOfDownload() : lastEnd_.value_or(DownloadEnd::kStopped);
  return SummaryOf(end, progress_, failedListed_, currentTask_ ? currentTask_->FailedFile : "");
}

void DownloadController::SetCaption(const std::string& caption) {
  caption_ = caption;
  view_.SetButtonCaption(caption);
}

int DownloadController::ThreadCount() const {
  return taskParams_ ? taskParams_->ThreadCount : 0;
}
