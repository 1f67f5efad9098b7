// The refresh of one stored tile: a conditional request with the tile's validators, the download's
// failure table for repeats and pauses, and an outcome that never loses the tile on disk.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "download/pauses.h"
#include "download/tile_judge.h"
#include "platform/http_client.h"
#include "platform/tile_validators.h"

enum class RefreshOutcome {
  kUnchanged,       // 304 to a conditional request: the file untouched
  kChanged,         // a new image replaced the file
  kKept,            // not found, or an answer that is no image: the stored tile stays
  kFailed,          // a failure worth asking again: the tile stays and is listed
  kRefused,         // the server refuses us: listed, the worker ends
  kNetworkFailure,  // the network is down: listed, the worker ends
  kStoreFailed,     // the new tile could not be written: listed, the worker ends
  kStopped,         // a stop ended a wait or an abort the request: nothing said, not finished
};

// Whether the worker leaves its walk after this outcome.
bool EndsRefreshWorker(RefreshOutcome outcome);
// Whether the tile goes into the refresh's failed-tile list.
bool ListsRefreshedTile(RefreshOutcome outcome);

using ConditionHeaders = std::vector<std::pair<std::string, std::string>>;

// The conditional headers for a tile's validators: If-None-Match with its ETag, If-Modified-Since
// with its time when that lies in the past (a time after now would be ignored by the server).
ConditionHeaders ConditionsOf(const qm::TileValidators& validators, std::time_t now);

// What the refresh of a tile needs from the worker that runs it.
class RefreshFetchWorker {
 public:
  virtual ~RefreshFetchWorker() = default;
  virtual qm::HttpResult Get(const std::string& url, const ConditionHeaders& conditions, std::string& body,
                             std::chrono::milliseconds timeLimit) = 0;
  virtual void Log(const std::string& line) = 0;
  virtual void Pause(int ms) = 0;  // cut short by an abort
  // Waits before a busy server is asked again; false when a stop or abort ended the wait.
  virtual bool WaitForServer(int ms) = 0;
  virtual bool Aborted() const = 0;
};

struct RefreshJob {
  std::string url;
  std::string path;
  std::string fileName;
  // Asked without validators: the stored file is the blank stand-in of a tile that failed, so
  // any image the server has is newer.
  bool unconditional = false;
};

struct RefreshFetchSettings {
  int workerNumber = 1;  // "T1" in lines
  DownloadPauses pauses;
  std::time_t now = 0;   // for the If-Modified-Since bound
  TileJudge* judge = nullptr;  // none: an answer that starts like an image is taken
};

RefreshOutcome RefreshTile(RefreshFetchWorker& worker, const RefreshFetchSettings& settings, const RefreshJob& job);
