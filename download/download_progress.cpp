// Counting, the sliding-window rate and the texts of the progress display.
#include "download/download_progress.h"

#include <algorithm>
#include <cstdio>

#include "engine/Unitclasstask.h"
#include "engine/area_input.h"
#include "engine/tile_sequence.h"

TileCounts& TileCounts::operator+=(const TileCounts& other) {
  stored += other.stored;
  blank += other.blank;
  failed += other.failed;
  notImages += other.notImages;
  return *this;
}

void TileCounts::Count(FetchOutcome outcome) {
  switch (outcome) {
    case FetchOutcome::kStored:
      ++stored;
      break;
    case FetchOutcome::kNotFound:
      ++blank;
      break;
    case FetchOutcome::kFailed:
    case FetchOutcome::kFailedWithoutMessage:
      ++failed;
      break;
    default:
      break;
  }
}

WorkerEnd WorkerEndOf(FetchOutcome outcome) {
  switch (outcome) {
    case FetchOutcome::kRefused:
      return WorkerEnd::kRefused;
    case FetchOutcome::kNetworkFailure:
      return WorkerEnd::kNetworkFailure;
    case FetchOutcome::kStoreFailed:
      return WorkerEnd::kFileError;
    default:
      return WorkerEnd::kNone;
  }
}

void DownloadProgress::Begin(int64_t totalTiles, int64_t doneBefore, Clock::time_point now) {
  total_ = totalTiles;
  doneBefore_ = doneBefore;
  counts_ = {};
  start_ = now_ = now;
  samples_.assign(1, {now, 0});
}

void DownloadProgress::Update(const TileCounts& counts, Clock::time_point now) {
  counts_ = counts;
  now_ = now;
  samples_.emplace_back(now, counts.Done());
  // Keep one sample at or before the window's start, so the window is always covered.
  while (samples_.size() > 2 && samples_[1].first <= now - kRateWindow) samples_.pop_front();
}

double DownloadProgress::ElapsedSeconds() const {
  return std::chrono::duration<double>(now_ - start_).count();
}

double DownloadProgress::Rate() const {
  if (samples_.empty()) return 0;
  // From the last sample at or before the window's start (or the first) to now.
  const auto& [then, doneThen] = samples_.front();
  const double seconds = std::chrono::duration<double>(now_ - then).count();
  return seconds > 0 ? static_cast<double>(counts_.Done() - doneThen) / seconds : 0;
}

std::optional<double> DownloadProgress::SecondsLeft() const {
  const double rate = Rate();
  if (rate <= 0) return std::nullopt;
  return static_cast<double>(Left()) / rate;
}

int64_t TilesFinishedBefore(const TDownTask& task) {
  const int64_t workers = task.Params->ThreadCount;
  if (!task.Params->Resume || workers <= 0) return 0;
  const int64_t tiles = OrderTileCount(OrderOf(task));
  int64_t done = 0;
  for (int32_t i = 0; i < workers && i < TDownTask::kResumeSlots; ++i) {
    const int64_t last = ShareOf(task, i).resumeSequence;  // the worker's tiles up to here are done
    if (last <= 0) continue;
    const int64_t upTo = std::min(last, tiles);
    done += i == 0 ? upTo / workers : (upTo >= i ? (upTo - i) / workers + 1 : 0);
  }
  return done;
}

std::string RateText(const DownloadProgress& p) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f tiles/s", p.Rate());
  return rate;
}

std::string TimeLeftText(const DownloadProgress& p) {
  const auto left = p.SecondsLeft();
  return (left ? DurationText(*left) : std::string("--:--:--")) + " left";
}

std::string ProgressText(const DownloadProgress& p) {
  return GroupedCount(p.Done()) + " of " + GroupedCount(p.Total()) + " tiles · " + RateText(p) + " · " +
         TimeLeftText(p);
}

std::string CountsText(const TileCounts& c) {
  return "stored " + GroupedCount(c.stored) + " · blank " + GroupedCount(c.blank) + " · failed " +
         GroupedCount(c.failed);
}
