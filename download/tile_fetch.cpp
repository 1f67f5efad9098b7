// The fetch of one tile: attempts, the failure table, and each outcome's lines and effects.
#include "download/tile_fetch.h"

#include "engine/image_signature.h"
#include "engine/tile_server_setting.h"

#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/retry_after.h"
#include "platform/tile_validators.h"

namespace {

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

class TileFetch {
 public:
  TileFetch(TileFetchWorker& worker, const TileFetchSettings& settings, const TileJob& tile)
      : worker_(worker), settings_(settings), tile_(tile), n_(std::to_string(settings.workerNumber)) {}

  FetchOutcome Run();

 private:
  FetchOutcome GiveUp(FailureRow row, const std::string& message);
  FetchOutcome Store(std::string& body, const qm::HttpResult& answer);
  FetchOutcome Abandon(FetchOutcome outcome, const std::string& message, const char* closing);
  FetchOutcome ReplaceWithBlank(FetchOutcome outcome);
  void FailureLines(const std::string& message);

  TileFetchWorker& worker_;
  const TileFetchSettings& settings_;
  const TileJob& tile_;
  const std::string n_;
};

FetchOutcome TileFetch::Run() {
  int attempts = 0;
  int connectionRepeats = 0;
  int busyWaits = 0;
  TileTimeBudget budget(settings_.pauses);
  while (true) {
    // A fresh buffer for every attempt: a stored tile never holds bytes of an earlier answer.
    std::string body;
    ++attempts;
    qm::HttpResult result = budget.Attempt([&](auto limit) { return worker_.Get(tile_.url, body, limit); });
    // Requests the client repeated on its own after a dead kept-alive connection count as
    // attempts that failed with a closed connection and were repeated at once.
    attempts += result.silentRepeats;
    connectionRepeats += result.silentRepeats;
    if (result.ok) return Store(body, result);
    if (worker_.Aborted()) return FetchOutcome::kAborted;
    // A wait the server asked for is no attempt of the failure table.
    const BusyWait wait = WaitIfBusy(
        result, busyWaits, "T" + n_, tile_.url, settings_.pauses.retryAfterMsPerSecond,
        [this](const std::string& line) { worker_.AddLog(line); }, [this](int ms) { return worker_.WaitForServer(ms); });
    if (wait != BusyWait::kNone) {
      if (wait == BusyWait::kStopped) return FetchOutcome::kAborted;
      --attempts;
      continue;
    }

    // A download asks without validators, so "not modified" names no tile it holds: a failure
    // whose line says why.
    if (result.status == 304) result.message += kNotModifiedUnasked;
    FailureRow row = ClassifyFailure(result.message);
    int pauseMs = 0;
    if (!RepeatsAfter(row, attempts, connectionRepeats, settings_.pauses, pauseMs)) {
      return GiveUp(row, result.message);
    }
    if (pauseMs > 0) worker_.Pause(pauseMs);
    if (worker_.Aborted()) return FetchOutcome::kAborted;
  }
}

FetchOutcome TileFetch::GiveUp(FailureRow row, const std::string& message) {
  switch (row) {
    case FailureRow::kRefusal:
      return Abandon(FetchOutcome::kRefused, message,
                     "Error: may be your IP is banned.\nPlease try again later.");
    case FailureRow::kConnectionBroken:  // rows 1 and 2 past their bound of repeats
    case FailureRow::kAddressInUse:
    case FailureRow::kSocketError:
      return Abandon(FetchOutcome::kNetworkFailure, message,
                     "Error: Your network has problem, please check it.");
    case FailureRow::kNotFound:
      worker_.AddLog("Error: the image is not found on server." + message);
      return ReplaceWithBlank(FetchOutcome::kNotFound);
    case FailureRow::kOtherFailure:
      FailureLines(message);
      return ReplaceWithBlank(FetchOutcome::kFailed);
    case FailureRow::kNoMessage:
      worker_.AddLog(tile_.fileName + ":failed ->" + MaskedUrl(tile_.url));
      worker_.AddFailed(tile_.filePath + "|" + tile_.url);
      return ReplaceWithBlank(FetchOutcome::kFailedWithoutMessage);
  }
  return FetchOutcome::kFailed;
}

void TileFetch::FailureLines(const std::string& message) {
  worker_.AddLog("T" + n_ + " " + message + "->" + MaskedUrl(tile_.url));
  worker_.AddFailed(tile_.filePath + "|" + tile_.url);
}

FetchOutcome TileFetch::Store(std::string& body, const qm::HttpResult& answer) {
  const bool image = LooksLikeImage(body);
  try {
    qm::WriteFileAtomicUnflushed(tile_.filePath, body);
    qm::KeepTileValidators(tile_.filePath, answer.etag, answer.lastModified);
    std::string().swap(body);  // the answer is released before the lines and the pause
  } catch (const qm::FileError& e) {
    // The position stays on the previous tile, so a continued task asks for this one again.
    FailureLines(e.what());
    return FetchOutcome::kStoreFailed;
  }
  worker_.TileEnded(FetchOutcome::kStored, image);
  worker_.AddLog("T" + n_ + ":seq=" + std::to_string(tile_.sequence) + "," + tile_.fileName +
                 " OK");
  worker_.SetLastPosition(tile_.x, tile_.y);
  worker_.Pause(settings_.pauses.afterStoredMs);
  return FetchOutcome::kStored;
}

FetchOutcome TileFetch::Abandon(FetchOutcome outcome, const std::string& message,
                                const char* closing) {
  FailureLines(message);
  worker_.AddLog(closing);
  return outcome;
}

FetchOutcome TileFetch::ReplaceWithBlank(FetchOutcome outcome) {
  // A missing blank file or an existing tile file leaves the tile as it is.
  qm::CopyFileNoOverwrite(settings_.blankPath, tile_.filePath);
  worker_.AddLog("T" + n_ + ":" + std::to_string(tile_.x) + "-" + std::to_string(tile_.y) +
                 " got a blank image!");
  worker_.SetLastPosition(tile_.x, tile_.y);
  return outcome;
}

}  // namespace

FailureRow ClassifyFailure(const std::string& m) {
  if (m.empty()) return FailureRow::kNoMessage;
  if (Contains(m, "10054") || Contains(m, "Connection Closed Gracefully")) {
    return FailureRow::kConnectionBroken;
  }
  if (Contains(m, "10048")) return FailureRow::kAddressInUse;
  if (Contains(m, "302") || Contains(m, "403")) return FailureRow::kRefusal;
  if (Contains(m, "Socket Error")) return FailureRow::kSocketError;
  if (Contains(m, "404") || Contains(m, "400")) return FailureRow::kNotFound;
  return FailureRow::kOtherFailure;
}

bool RepeatsAfter(FailureRow row, int attempts, int& connectionRepeats, const DownloadPauses& p,
                  int& pauseMs) {
  switch (row) {
    case FailureRow::kConnectionBroken:
    case FailureRow::kAddressInUse:
      if (connectionRepeats >= kMaxConnectionRepeats) return false;
      pauseMs = row == FailureRow::kAddressInUse ? p.addressInUseMs : connectionRepeats == 0 ? 0 : p.afterStoredMs;
      ++connectionRepeats;
      return true;
    case FailureRow::kSocketError:
      pauseMs = p.socketRetryMs;
      return attempts < kAttemptLimit;
    default:
      pauseMs = p.retryMs;
      return attempts < kAttemptLimit;
  }
}

BusyWait WaitIfBusy(const qm::HttpResult& result, int& busyWaits, const std::string& who, const std::string& url,
                    int msPerSecond, const std::function<void(const std::string&)>& log,
                    const std::function<bool(int ms)>& waitForServer) {
  if (busyWaits >= qm::kMaxRetryAfterWaits) return BusyWait::kNone;
  const std::optional<int> seconds = qm::RetryAfterOf(result);
  if (!seconds) return BusyWait::kNone;
  ++busyWaits;
  log(who + " " + qm::ServerBusyText(result.message, *seconds) + " ->" + MaskedUrl(url));
  return waitForServer(*seconds * msPerSecond) ? BusyWait::kWaited : BusyWait::kStopped;
}

bool EndsWorker(FetchOutcome outcome) {
  switch (outcome) {
    case FetchOutcome::kRefused:
    case FetchOutcome::kNetworkFailure:
    case FetchOutcome::kStoreFailed:
    case FetchOutcome::kAborted:
      return true;
    default:
      return false;
  }
}

FetchOutcome FetchTile(TileFetchWorker& worker, const TileFetchSettings& settings,
                       const TileJob& tile) {
  const FetchOutcome outcome = TileFetch(worker, settings, tile).Run();
  if (outcome != FetchOutcome::kStored) worker.TileEnded(outcome, false);
  return outcome;
}
