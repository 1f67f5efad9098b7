// The fetch of one tile: its attempts, the failure table that decides repeats and pauses, and
// the outcome with its lines for the log and failed-tile windows.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "download/pauses.h"
#include "platform/http_client.h"

// The row of the failure table a failure message falls under, first match wins.
enum class FailureRow {
  kConnectionBroken = 1,  // "10054" or "Connection Closed Gracefully": repeat at once
  kAddressInUse = 2,      // "10048": repeat after a long pause
  kRefusal = 3,           // "302" or "403"
  kSocketError = 4,       // "Socket Error"
  kNotFound = 5,          // "404" or "400"
  kOtherFailure = 6,      // any other message
  kNoMessage = 7,         // a failure without message text
};

FailureRow ClassifyFailure(const std::string& message);

enum class FetchOutcome {
  kStored,
  kRefused,
  kNetworkFailure,
  kNotFound,
  kFailed,
  kFailedWithoutMessage,
  kStoreFailed,  // the answer arrived but the tile file could not be written
  kAborted,      // the request was aborted at program exit, or a stop ended a wait for a busy
                 // server: no lines, not finished
};

// Put after the status line of a 304 answer to a request that carried no validators.
inline constexpr const char* kNotModifiedUnasked = " to a request without validators";

// Whether a failure of this row is asked again after `attempts` attempts of the tile, and after
// how long a pause; counts the repeats of rows 1 and 2 in connectionRepeats. A broken connection
// is asked again at once the first time in a tile (a kept-alive connection the server closed
// meanwhile) and after the worker's pace between stored tiles every further time, so a server
// that breaks every answer is not asked eleven times in a few milliseconds.
bool RepeatsAfter(FailureRow row, int attempts, int& connectionRepeats, const DownloadPauses& pauses,
                  int& pauseMs);

// A failed answer that is a busy server's Retry-After (at most qm::kMaxRetryAfterWaits of them
// for one tile, counted in busyWaits) is said in a line "<who> Server busy (...) ->URL" and
// waited for, msPerSecond per second asked; kStopped when the wait was ended by a stop.
enum class BusyWait { kNone, kWaited, kStopped };
BusyWait WaitIfBusy(const qm::HttpResult& result, int& busyWaits, const std::string& who, const std::string& url,
                    int msPerSecond, const std::function<void(const std::string&)>& log,
                    const std::function<bool(int ms)>& waitForServer);

// What is left of the time a tile's requests may take together (DownloadPauses::tileRequestsMs).
class TileTimeBudget {
 public:
  explicit TileTimeBudget(const DownloadPauses& pauses)
      : left_(pauses.tileRequestsMs), floor_(pauses.laterAttemptMinMs) {}
  // Makes one attempt, get(limit), within what is left but never less than the floor, and takes
  // the time it took from what is left.
  template <typename Get>
  qm::HttpResult Attempt(Get&& get) {
    qm::HttpResult result = get(std::max(left_, floor_));
    left_ -= result.elapsed;
    return result;
  }

 private:
  std::chrono::milliseconds left_;
  const std::chrono::milliseconds floor_;
};

// Whether the worker leaves its walk after this outcome.
bool EndsWorker(FetchOutcome outcome);

// Rows 1 and 2 repeat at most this many times in one tile; the next such failure ends the tile
// as a network failure.
inline constexpr int kMaxConnectionRepeats = 10;
// Rows 3 to 7 give up on this attempt.
inline constexpr int kAttemptLimit = 3;

// What the fetch needs from the worker that runs it.
class TileFetchWorker {
 public:
  virtual ~TileFetchWorker() = default;
  virtual qm::HttpResult Get(const std::string& url, std::string& body, std::chrono::milliseconds timeLimit) = 0;
  virtual void AddLog(const std::string& line) = 0;
  virtual void AddFailed(const std::string& line) = 0;
  virtual void Pause(int ms) = 0;  // returns early once the worker's requests are aborted
  virtual bool Aborted() const = 0;
  // Waits before a busy server is asked again; false when the worker is stopped or aborted,
  // which ends the wait at once.
  virtual bool WaitForServer(int ms) {
    Pause(ms);
    return !Aborted();
  }
  virtual void SetLastPosition(int32_t x, int32_t y) = 0;
  // How the tile ended, once per tile: a stored tile is told before its log line and its pause,
  // so a count kept here never lags behind the log.
  virtual void TileEnded(FetchOutcome /*outcome*/, bool /*answerIsImage*/) {}
};

struct TileJob {
  int32_t x = 0;
  int32_t y = 0;
  int64_t sequence = 0;
  std::string url;
  std::string fileName;
  std::string filePath;
};

struct TileFetchSettings {
  int workerNumber = 1;   // the worker's index + 1, as shown in lines ("T1")
  std::string blankPath;  // the blank tile image copied in place of a tile that failed
  DownloadPauses pauses;
};

FetchOutcome FetchTile(TileFetchWorker& worker, const TileFetchSettings& settings,
                       const TileJob& tile);
