// The refresh of one stored tile: attempts, the failure table, and each outcome's lines.
#include "download/refresh_fetch.h"

#include <optional>

#include "download/tile_fetch.h"
#include "engine/image_signature.h"
#include "engine/tile_server_setting.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/http_date.h"

namespace {

constexpr size_t kLargestStoredTile = size_t{16} << 20;

class TileRefresh {
 public:
  TileRefresh(RefreshFetchWorker& worker, const RefreshFetchSettings& settings, const RefreshJob& job)
      : worker_(worker), settings_(settings), job_(job), n_("T" + std::to_string(settings.workerNumber)) {}

  RefreshOutcome Run();

 private:
  RefreshOutcome NotModified(const qm::HttpResult& result, const ConditionHeaders& conditions);
  RefreshOutcome Replace(const std::string& body, const qm::HttpResult& answer);
  // Why a new answer does not replace the tile, when the judge decodes it to no sound tile.
  std::optional<RefreshOutcome> Judged(const std::string& body);
  bool SameAsStored(const std::string& body) const;
  std::optional<ImageSize> SizeChange(const std::string& body) const;
  RefreshOutcome GiveUp(FailureRow row, const std::string& message);
  RefreshOutcome Said(RefreshOutcome outcome, const std::string& what);

  RefreshFetchWorker& worker_;
  const RefreshFetchSettings& settings_;
  const RefreshJob& job_;
  const std::string n_;
};

RefreshOutcome TileRefresh::Run() {
  const ConditionHeaders conditions =
      job_.unconditional ? ConditionHeaders{} : ConditionsOf(qm::ReadTileValidators(job_.path), settings_.now);
  int attempts = 0;
  int connectionRepeats = 0;
  int busyWaits = 0;
  TileTimeBudget budget(settings_.pauses);
  while (true) {
    std::string body;
    ++attempts;
    const qm::HttpResult result =
        budget.Attempt([&](auto limit) { return worker_.Get(job_.url, conditions, body, limit); });
    attempts += result.silentRepeats;
    connectionRepeats += result.silentRepeats;
    if (result.ok) return Replace(body, result);
    if (worker_.Aborted()) return RefreshOutcome::kStopped;
    if (result.status == 304) return NotModified(result, conditions);
    const BusyWait wait = WaitIfBusy(
        result, busyWaits, n_, job_.url, settings_.pauses.retryAfterMsPerSecond,
        [this](const std::string& line) { worker_.Log(line); }, [this](int ms) { return worker_.WaitForServer(ms); });
    if (wait != BusyWait::kNone) {
      if (wait == BusyWait::kStopped) return RefreshOutcome::kStopped;
      --attempts;  // a wait the server asked for is no attempt of the failure table
      continue;
    }
    const FailureRow row = ClassifyFailure(result.message);
    int pauseMs = 0;
    if (!RepeatsAfter(row, attempts, connectionRepeats, settings_.pauses, pauseMs)) return GiveUp(row, result.message);
    worker_.Pause(pauseMs);
    if (worker_.Aborted()) return RefreshOutcome::kStopped;
  }
}

// "Not modified" means something only as the answer to a question: without validators the server
// has said nothing about this tile, so the tile stays and is listed to be fetched again.
RefreshOutcome TileRefresh::NotModified(const qm::HttpResult& result, const ConditionHeaders& conditions) {
  if (!conditions.empty()) return RefreshOutcome::kUnchanged;
  return Said(RefreshOutcome::kFailed, result.message + kNotModifiedUnasked + ", stored tile kept");
}

RefreshOutcome TileRefresh::Replace(const std::string& body, const qm::HttpResult& answer) {
  // An error page sent as a success must not take the place of a good tile.
  if (!LooksLikeImage(body)) return Said(RefreshOutcome::kKept, "the answer is not an image, stored tile kept");
  if (const auto size = SizeChange(body)) {
    return Said(RefreshOutcome::kKept, "the answer is an image of another size (" + std::to_string(size->width) + " x " +
                                           std::to_string(size->height) + "), stored tile kept");
  }
  if (const std::optional<RefreshOutcome> refused = Judged(body)) return *refused;
  try {
    // A server that ignores the conditions sends the same bytes again: the file stays as it is
    // and only takes the validators it may not have had.
    if (SameAsStored(body)) {
      qm::KeepTileValidators(job_.path, answer.etag, answer.lastModified);
      return RefreshOutcome::kUnchanged;
    }
    qm::WriteFileAtomicUnflushed(job_.path, body);
    qm::KeepTileValidators(job_.path, answer.etag, answer.lastModified);
  } catch (const qm::FileError& e) {
    return Said(RefreshOutcome::kStoreFailed, e.what());
  }
  worker_.Log(n_ + ":" + job_.fileName + " changed");
  return RefreshOutcome::kChanged;
}

// Decoded as verify decodes a stored tile, so whatever the refresh stores, verify passes. An
// answer that could not be judged is asked again by a later refresh.
std::optional<RefreshOutcome> TileRefresh::Judged(const std::string& body) {
  if (!settings_.judge) return std::nullopt;
  switch (settings_.judge->Judge(body)) {
    case TileVerdict::kSound:
      return std::nullopt;
    case TileVerdict::kNotImage:
      return Said(RefreshOutcome::kKept, "the answer is not an image, stored tile kept");
    case TileVerdict::kDamaged:
      return Said(RefreshOutcome::kKept, "the answer is an image that does not decode (cut short or damaged), stored tile kept");
    case TileVerdict::kUnjudged:
      break;
  }
  return Said(RefreshOutcome::kFailed, "the answer could not be checked (quillmere-verify, which decodes it, did not answer), stored tile kept");
}

// The size of a new image that differs from the size of the stored one; nothing when they agree
// or either cannot be told.
std::optional<ImageSize> TileRefresh::SizeChange(const std::string& body) const {
  const std::optional<ImageSize> size = DeclaredImageSize(body);
  if (!size) return std::nullopt;
  try {
    const std::optional<ImageSize> stored = DeclaredImageSize(qm::ReadFileUpTo(job_.path, kLargestStoredTile));
    if (stored && *stored != *size) return size;
  } catch (const qm::FileError&) {  // gone or unreadable: nothing to compare with
  }
  return std::nullopt;
}

bool TileRefresh::SameAsStored(const std::string& body) const {
  try {
    return qm::ReadFileUpTo(job_.path, body.size()) == body;
  } catch (const qm::FileError&) {  // larger, or gone: not the same
    return false;
  }
}

RefreshOutcome TileRefresh::GiveUp(FailureRow row, const std::string& message) {
  switch (row) {
    case FailureRow::kRefusal:
      Said(RefreshOutcome::kRefused, message);
      worker_.Log("Error: may be your IP is banned.\nPlease try again later.");
      return RefreshOutcome::kRefused;
    case FailureRow::kConnectionBroken:
    case FailureRow::kAddressInUse:
    case FailureRow::kSocketError:
      Said(RefreshOutcome::kNetworkFailure, message);
      worker_.Log("Error: Your network has problem, please check it.");
      return RefreshOutcome::kNetworkFailure;
    case FailureRow::kNotFound:
      return Said(RefreshOutcome::kKept, message + ": not found on the server, stored tile kept");
    case FailureRow::kOtherFailure:
      return Said(RefreshOutcome::kFailed, message);
    case FailureRow::kNoMessage:
      return Said(RefreshOutcome::kFailed, "failed");
  }
  return RefreshOutcome::kFailed;
}

RefreshOutcome TileRefresh::Said(RefreshOutcome outcome, const std::string& what) {
  worker_.Log(n_ + ":" + job_.fileName + " " + what + " ->" + MaskedUrl(job_.url));
  return outcome;
}

}  // namespace

bool EndsRefreshWorker(RefreshOutcome outcome) {
  switch (outcome) {
    case RefreshOutcome::kRefused:
    case RefreshOutcome::kNetworkFailure:
    case RefreshOutcome::kStoreFailed:
    case RefreshOutcome::kStopped:
      return true;
    default:
      return false;
  }
}

bool ListsRefreshedTile(RefreshOutcome outcome) {
  switch (outcome) {
    case RefreshOutcome::kFailed:
    case RefreshOutcome::kRefused:
    case RefreshOutcome::kNetworkFailure:
    case RefreshOutcome::kStoreFailed:
      return true;
    default:
      return false;
  }
}

ConditionHeaders ConditionsOf(const qm::TileValidators& validators, std::time_t now) {
  ConditionHeaders conditions;
  if (validators.etag && qm::UsableEtag(*validators.etag)) conditions.emplace_back("If-None-Match", *validators.etag);
  if (validators.time && *validators.time > 0 && *validators.time <= now) {
    conditions.emplace_back("If-Modified-Since", qm::HttpDate(*validators.time));
  }
  return conditions;
}

RefreshOutcome RefreshTile(RefreshFetchWorker& worker, const RefreshFetchSettings& settings, const RefreshJob& job) {
  return TileRefresh(worker, settings, job).Run();
}
