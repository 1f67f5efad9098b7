// A refresh worker's walk over its share, its pauses, and its counts.
#include "download/refresh_worker.h"

#include <sys/stat.h>

#include <chrono>
#include <exception>

#include "engine/tile_source.h"
#include "platform/file_ops.h"

RefreshWorker::RefreshWorker(int index, RefreshRun& run, std::vector<StoredTile> share,
                             std::optional<StoredTile> last)
    : index_(index), run_(run), share_(std::move(share)), resumedFrom_(last) {
  if (run_.settings_.proxy) client_.SetProxy(*run_.settings_.proxy);
}

RefreshWorker::~RefreshWorker() { Join(); }

void RefreshWorker::Start() {
  thread_ = std::thread([this] { Execute(); });
}

void RefreshWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

std::optional<StoredTile> RefreshWorker::Last() const {
  const int64_t index = lastIndex_.load();
  if (index < 0) return resumedFrom_;
  return share_[static_cast<size_t>(index)];
}

RefreshCounts RefreshWorker::Counts() const {
  return {unchanged_.load(), changed_.load(), kept_.load(), failed_.load()};
}

void RefreshWorker::Execute() {
  try {
    Walk();
  } catch (const std::exception& e) {
    // The log itself may be what failed; the run learns of the end all the same.
    endedBy_.store(RefreshOutcome::kStoreFailed);
    try {
      Log("T" + std::to_string(index_ + 1) + " " + e.what());
    } catch (...) {
    }
  }
  run_.WorkerEnded();
}

void RefreshWorker::Walk() {
  const RefreshSettings& settings = run_.settings_;
  const RefreshFetchSettings fetch{index_ + 1, settings.pauses, run_.now_, settings.judge.get()};
  if (!Wait(settings.pauses.startStepMs * index_, true)) return;
  for (size_t i = 0; i < share_.size(); ++i) {
    if (run_.stop_.load()) return;
    const StoredTile& tile = share_[i];
    const std::string path = run_.area_.TilePath(tile.x, tile.y);
    const RefreshJob job{SatelliteTileUrl(settings.tileServer, run_.area_.zoom, tile.x, tile.y), path,
                         SatelliteTileFileName(run_.area_.zoom, tile.x, tile.y), IsBlankStandIn(path)};
    const RefreshOutcome outcome = RefreshTile(*this, fetch, job);
    Count(outcome);
    if (ListsRefreshedTile(outcome)) run_.List(job.path + "|" + job.url);
    if (EndsRefreshWorker(outcome)) {
      endedBy_.store(outcome);
      return;  // the position stays on the tile before, so a continued refresh asks this one again
    }
    lastIndex_.store(static_cast<int64_t>(i));
    Wait(settings.pauses.afterStoredMs, true);
  }
  walkedAll_.store(true);
}

void RefreshWorker::Count(RefreshOutcome outcome) {
  switch (outcome) {
    case RefreshOutcome::kUnchanged:
      ++unchanged_;
      break;
    case RefreshOutcome::kChanged:
      ++changed_;
      break;
    case RefreshOutcome::kKept:
      ++kept_;
      break;
    case RefreshOutcome::kStopped:
      break;
    default:
      ++failed_;
  }
}

bool RefreshWorker::IsBlankStandIn(const std::string& path) const {
  const std::string& blank = run_.blank_;
  struct stat info {};
  if (blank.empty() || stat(path.c_str(), &info) != 0 || static_cast<size_t>(info.st_size) != blank.size()) return false;
  try {
    return qm::ReadFileUpTo(path, blank.size()) == blank;
  } catch (const qm::FileError&) {
    return false;
  }
}

bool RefreshWorker::Wait(int ms, bool endsOnStop) {
  const auto cutShort = [&] { return run_.abort_.load() || (endsOnStop && run_.stop_.load()); };
  std::unique_lock lock(run_.mutex_);
  if (ms > 0) run_.wake_.wait_for(lock, std::chrono::milliseconds(ms), cutShort);
  return !cutShort();
}

qm::HttpResult RefreshWorker::Get(const std::string& url, const ConditionHeaders& conditions, std::string& body,
                                  std::chrono::milliseconds timeLimit) {
  RequestHeaders headers = run_.settings_.headers;
  headers.insert(headers.end(), conditions.begin(), conditions.end());
  client_.SetHeaders(std::move(headers));
  return client_.Get(url, body, timeLimit);
}

void RefreshWorker::Log(const std::string& line) { run_.Log(line); }

bool RefreshWorker::Aborted() const { return run_.abort_.load(); }
