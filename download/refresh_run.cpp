// The refresh run: its plan from the stored tiles and the positions, its workers, its files.
#include "download/refresh_run.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>

#include "download/area_program.h"
#include "download/refresh_worker.h"
#include "engine/area_input.h"
#include "engine/fetch_settings.h"
#include "engine/tile_server_setting.h"
#include "platform/date_time.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {

constexpr std::time_t kSecondsPerDay = 24 * 60 * 60;

std::string BlankBytes(const std::string& blankPath) {
  if (blankPath.empty() || !qm::FileExists(blankPath)) return "";
  try {
    return qm::ReadFileUpTo(blankPath, qm::HttpClient::kMaxBodyBytes);
  } catch (const qm::FileError&) {
    return "";
  }
}

}  // namespace

RefreshSettings ReadRefreshSettings(const std::string& configFile, const std::string& server) {
  const FetchSettings fetch = ReadFetchSettings(configFile);
  ServerInUse chosen = ReadServerInUse(configFile, server);
  RefreshSettings settings;
  settings.tileServer = std::move(chosen.tileServer);
  settings.headers = std::move(chosen.headers);
  settings.serverName = std::move(chosen.name);
  settings.maxZoom = chosen.maxZoom;
  settings.proxy = fetch.proxy;
  settings.judge = std::make_shared<TileJudgeProgram>();
  return settings;
}

namespace {

// The shape's tiles within the project's range; a shape that is not the one the task was made with
// is refused.
std::optional<AreaCover> ShapeCoverOf(const std::string& projectFile, const ProjectArea& project) {
  try {
    const std::shared_ptr<const TaskArea> shape = AreaOfProject(projectFile);
    if (!shape) return std::nullopt;
    AreaCover cover = shape->coverAt(project.zoom).ClippedTo({project.minX, project.minY, project.maxX, project.maxY});
    if (const auto changed = ChangedAreaText(projectFile, shape->geoJson, cover.Tiles())) throw RefreshRefused(*changed);
    return cover;
  } catch (const AreaRefused& e) {
    throw RefreshRefused(e.what());
  } catch (const TaskError& e) {
    throw RefreshRefused(e.what());
  }
}

}  // namespace

RefreshRun::RefreshRun(std::string projectFile, RefreshSettings settings, std::time_t now)
    : projectFile_(std::move(projectFile)), settings_(std::move(settings)), now_(now) {
  try {
    area_ = ReadProjectArea(projectFile_);
  } catch (const ProjectAreaError& e) {
    throw RefreshRefused(e.what());
  }
  // A level the server does not serve is refused as Start refuses it: its answers would all fail.
  const ServerInUse server{settings_.serverName, settings_.tileServer, {}, settings_.maxZoom, ""};
  if (const auto beyond = ZoomBeyondServerText(server, area_.zoom)) throw RefreshRefused(*beyond);
  // Read first, so that a project that is not there is said to be missing.
  lock_ = qm::RunLock::Take(projectFile_);
  if (!qm::DirectoryExists(area_.tileFolder)) {
    throw RefreshRefused("The tile folder " + area_.tileFolder + " of " + projectFile_ +
                         " is gone: there are no tiles to refresh.");
  }
  const RefreshPositions before = ReadRefreshPositions(projectFile_, area_);
  continues_ = before.started != 0 && before.olderThanDays == settings_.olderThanDays;
  if (continues_) {
    positions_ = before;
  } else {
    positions_.started = now_;
    positions_.olderThanDays = settings_.olderThanDays;
  }
  // The bound of "older than" is taken from the refresh's start, so a continued one asks the same tiles.
  std::optional<std::time_t> olderThan;
  if (settings_.olderThanDays) olderThan = positions_.started - *settings_.olderThanDays * kSecondsPerDay;
  stored_ = StoredTilesOf(area_, olderThan, now_);
  // A shaped task's folder may still hold tiles of an earlier rectangle of the same name: only
  // the shape's tiles are its own.
  if (const std::optional<AreaCover> inside = ShapeCoverOf(projectFile_, area_)) {
    std::erase_if(stored_, [&inside](const StoredTile& tile) { return !inside->Contains(tile.x, tile.y); });
  }
  if (!continues_) positions_.workers = static_cast<int>(std::clamp<size_t>(stored_.size(), 1, kMaxRefreshWorkers));
  tiles_ = std::count_if(stored_.begin(), stored_.end(), [this](const StoredTile& tile) {
    return tile.sequence > positions_.ResumeOf(static_cast<int>(tile.sequence % positions_.workers));
  });
  const std::string stem = qm::ExtractFilePath(projectFile_) + area_.name;
  logFile_ = stem + "_refresh_log.txt";
  failedFile_ = stem + "_refresh_failed.ftl";
  blank_ = BlankBytes(settings_.blankPath);
}

RefreshRun::~RefreshRun() {
  Abort();
  for (auto& worker : workers_) worker->Join();
}

void RefreshRun::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_.store(true);
  }
  wake_.notify_all();
}

void RefreshRun::Abort() {
  std::lock_guard lock(mutex_);
  stop_.store(true);
  abort_.store(true);
  for (auto& worker : workers_) worker->AbortRequest();
  wake_.notify_all();
}

RefreshCounts RefreshRun::Counts() const {
  std::lock_guard lock(mutex_);
  RefreshCounts sum;
  for (const auto& worker : workers_) {
    const RefreshCounts c = worker->Counts();
    sum.unchanged += c.unchanged;
    sum.changed += c.changed;
    sum.kept += c.kept;
    sum.failed += c.failed;
  }
  return sum;
}

void RefreshRun::Log(const std::string& line) {
  std::lock_guard lock(fileMutex_);
  qm::AppendToFile(logFile_, line + "\r\n");
}

void RefreshRun::List(const std::string& line) {
  std::lock_guard lock(fileMutex_);
  qm::AppendToFile(failedFile_, line + "\r\n");
}

void RefreshRun::WorkerEnded() {
  {
    std::lock_guard lock(mutex_);
    ++ended_;
  }
  wake_.notify_all();
}

void RefreshRun::Begin() {
  // The log first: one that cannot be written (a link planted in its place) leaves the project
  // and the list as they were.
  std::string header = "Refresh " + std::string(continues_ ? "continued " : "started ") + qm::NowDateTimeText() +
                       ": " + GroupedCount(tiles_) + " stored tiles";
  if (settings_.olderThanDays) header += " older than " + std::to_string(*settings_.olderThanDays) + " days";
  Log(header);
  WriteRefreshPositions(projectFile_, positions_);
  if (!continues_) {
    // A list with keyed URLs is for its owner's eyes only, as the download's own failed list.
    qm::WriteFileAtomic(failedFile_, "",
                        TileUrlsCarrySecrets(settings_.tileServer) ? qm::FileAccess::kOwnerOnly : qm::FileAccess::kAsBefore);
  }
}

void RefreshRun::StartWorkers() {
  const int count = positions_.workers;
  std::vector<std::vector<StoredTile>> shares(static_cast<size_t>(count));
  for (const StoredTile& tile : stored_) {
    const int i = static_cast<int>(tile.sequence % count);
    if (tile.sequence > positions_.ResumeOf(i)) shares[static_cast<size_t>(i)].push_back(tile);
  }
  std::lock_guard lock(mutex_);
  for (int i = 0; i < count; ++i) {
    workers_.push_back(std::make_unique<RefreshWorker>(i, *this, std::move(shares[static_cast<size_t>(i)]),
                                                       positions_.last[static_cast<size_t>(i)]));
    if (abort_.load()) workers_.back()->AbortRequest();
    workers_.back()->Start();
  }
}

void RefreshRun::SavePositions() {
  RefreshPositions now = positions_;
  {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < workers_.size(); ++i) now.last[i] = workers_[i]->Last();
  }
  const auto same = [](const std::optional<StoredTile>& a, const std::optional<StoredTile>& b) {
    return a.has_value() == b.has_value() && (!a || a->sequence == b->sequence);
  };
  if (std::equal(now.last.begin(), now.last.end(), positions_.last.begin(), same)) return;
  WriteRefreshPositions(projectFile_, now);
  positions_ = now;
}

RefreshEnd RefreshRun::EndOfRun() const {
  bool workerEnded = false;
  bool walkedAll = true;
  for (const auto& worker : workers_) {
    if (worker->EndedBy() == RefreshOutcome::kStoreFailed) return RefreshEnd::kFileError;
    const RefreshOutcome by = worker->EndedBy();
    workerEnded = workerEnded || by == RefreshOutcome::kRefused || by == RefreshOutcome::kNetworkFailure;
    walkedAll = walkedAll && worker->WalkedAll();
  }
  if (workerEnded) return RefreshEnd::kWorkerEnded;
  return walkedAll ? RefreshEnd::kComplete : RefreshEnd::kStopped;
}

RefreshReport RefreshRun::Run(const std::function<void()>& onTick) {
  Begin();
  StartWorkers();
  try {
    std::unique_lock lock(mutex_);
    const auto allEnded = [this] { return ended_ == static_cast<int>(workers_.size()); };
    while (!allEnded()) {
      wake_.wait_for(lock, std::chrono::seconds(1), allEnded);
      lock.unlock();
      SavePositions();
      if (onTick) onTick();
      lock.lock();
    }
  } catch (...) {
    Abort();
    for (auto& worker : workers_) worker->Join();
    throw;
  }
  for (auto& worker : workers_) worker->Join();
  RefreshReport report{area_.name, tiles_, Counts(), EndOfRun(), continues_, failedFile_};
  if (report.end == RefreshEnd::kComplete) {
    ClearRefreshPositions(projectFile_);
  } else {
    SavePositions();
  }
  Log(RefreshSummaryText(report));
  return report;
}

std::string RefreshSummaryText(const RefreshReport& r) {
  const RefreshCounts& c = r.counts;
  std::string text = "Refresh of " + r.name;
  text += r.end == RefreshEnd::kComplete ? ": " : " ended early after " + GroupedCount(c.Done()) + " of ";
  text += GroupedCount(r.tiles) + " tiles · unchanged " + GroupedCount(c.unchanged) + " · changed " +
          GroupedCount(c.changed) + " · kept " + GroupedCount(c.kept) + " · failed " + GroupedCount(c.failed);
  if (r.end == RefreshEnd::kStopped) text += " · stopped: the next refresh continues";
  if (c.failed > 0) text += " · listed in " + r.failedList;
  return text;
}
