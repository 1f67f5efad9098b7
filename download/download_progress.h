// The figures of a running download: tiles stored, blank, failed and left for the task as a
// whole (a continued task includes what earlier runs finished), the rate over the last minute,
// the elapsed time and an estimate of the time left; and how a download ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "download/tile_fetch.h"

class TDownTask;

// Tiles finished in this download, by how they ended. A failed tile is in the failed-tile list
// (and usually replaced by the blank tile); a blank one was not found on the server.
struct TileCounts {
  int64_t stored = 0;
  int64_t blank = 0;
  int64_t failed = 0;
  int64_t notImages = 0;  // stored answers that do not start like an image (also in stored)
  int64_t Done() const { return stored + blank + failed; }
  TileCounts& operator+=(const TileCounts& other);
  // Counts the outcome of one tile; outcomes that leave the tile unfinished count nowhere.
  void Count(FetchOutcome outcome);
};

// Why a worker stopped walking its tiles before the end of its share, if it did.
enum class WorkerEnd { kNone, kRefused, kNetworkFailure, kFileError };
WorkerEnd WorkerEndOf(FetchOutcome outcome);

// How a download ended, for the summary; the first worker's reason that applies decides.
enum class DownloadEnd { kComplete, kStopped, kRefused, kNetworkFailure, kFileError };

class DownloadProgress {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kRateWindow{60};

  void Begin(int64_t totalTiles, int64_t doneBefore, Clock::time_point now);
  // Takes the counts so far; called once a second.
  void Update(const TileCounts& counts, Clock::time_point now);

  const TileCounts& Counts() const { return counts_; }
  int64_t Total() const { return total_; }
  // Tiles that earlier runs of a continued task finished.
  int64_t DoneBefore() const { return doneBefore_; }
  int64_t Done() const { return doneBefore_ + counts_.Done(); }
  int64_t Left() const { return std::max<int64_t>(0, total_ - Done()); }
  double ElapsedSeconds() const;
  // Tiles a second over the last minute (or since the start, when that is shorter).
  double Rate() const;
  // At the present rate; nothing until a rate is known.
  std::optional<double> SecondsLeft() const;

 private:
  int64_t total_ = 0;
  int64_t doneBefore_ = 0;
  TileCounts counts_;
  Clock::time_point start_{};
  Clock::time_point now_{};
  std::deque<std::pair<Clock::time_point, int64_t>> samples_;  // (time, tiles done then)
};

// Tiles that the workers of a continued task finished before, from their resume positions.
int64_t TilesFinishedBefore(const TDownTask& task);

// "1,234 of 5,000 tiles · 8.0 tiles/s · 00:07:51 left"
std::string ProgressText(const DownloadProgress& progress);
// Its pieces: "8.0 tiles/s" and "00:07:51 left" ("--:--:-- left" while no rate is known).
std::string RateText(const DownloadProgress& progress);
std::string TimeLeftText(const DownloadProgress& progress);
// "stored 1,200 · blank 20 · failed 14"
std::string CountsText(const TileCounts& counts);
