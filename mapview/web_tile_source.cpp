// Where a browsed tile comes from: a project, the disk cache or the tile server.
#include "mapview/web_tile_source.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>

#include "engine/Unitclasstask.h"
#include "engine/image_signature.h"
#include "engine/level_set.h"
#include "engine/tile_server_setting.h"
#include "engine/tile_source.h"
#include "mapview/tile_survey.h"
#include "platform/file_ops.h"
#include "platform/retry_after.h"

namespace mapview {

namespace {

constexpr long kConnectSeconds = 10;
constexpr long kStallSeconds = 20;

}  // namespace

CellRect WorldCells() {
  const int64_t side = int64_t{1} << kWorldZoom;
  return {0, 0, side, side};
}

qm::RequestPacer& BrowsingPacer() {
  static qm::RequestPacer pacer(kBrowsingRequestsPerSecond);
  return pacer;
}

namespace {

// A project names itself; a level set (the last project once a set ran) names the levels it has
// begun, and nothing when it cannot be read.
std::vector<std::string> ProjectsNamedBy(const std::string& file) {
  if (file.empty()) return {};
  if (TaskExtension(file) != ".qmset") return {file};
  auto levels = ProjectFilesOf(file);
  if (auto* files = std::get_if<std::vector<std::string>>(&levels)) return std::move(*files);
  return {};
}

}  // namespace

WebTile WebTileOf(const PieceKey& piece) { return {kWorldZoom - piece.level, piece.x, piece.y}; }

std::vector<ProjectArea> FindProjects(const std::string& folder, const std::vector<std::string>& extraFiles) {
  std::set<std::string> files;
  for (const std::string& file : extraFiles) {
    for (const std::string& project : ProjectsNamedBy(file)) {
      files.insert(std::filesystem::path(project).lexically_normal().string());
    }
  }
  std::error_code error;
  if (!folder.empty()) {
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      if (entry.path().extension() == ".qmtp") files.insert(entry.path().lexically_normal().string());
    }
  }
  std::vector<ProjectArea> projects;
  for (const std::string& file : files) {
    try {
      projects.push_back(ReadProjectArea(file));
    } catch (const ProjectAreaError&) {
      // A file that is no readable project holds no tiles to browse.
    }
  }
  return projects;
}

WebTileSource::WebTileSource(FetchSettings settings, std::vector<ProjectArea> projects, std::string blankBytes,
                             std::unique_ptr<TileDiskCache> cache)
    : settings_(std::move(settings)),
      projects_(std::move(projects)),
      blankBytes_(std::move(blankBytes)),
      serverProblem_(IsTileUrlTemplate(settings_.tileServer) ? TileUrlTemplateProblem(settings_.tileServer)
                                                              : std::nullopt),
      cache_(std::move(cache)) {}

WebTileSource::~WebTileSource() = default;

std::optional<std::string> WebTileSource::Bytes(const WebTile& tile, const std::function<bool()>& stillWanted) {
  const int64_t side = int64_t{1} << std::clamp(tile.zoom, 0, kWorldZoom);
  if (tile.zoom < 0 || tile.zoom > kWorldZoom || tile.x < 0 || tile.y < 0 || tile.x >= side || tile.y >= side) {
    return std::nullopt;
  }
  if (auto bytes = FromProjects(tile)) return bytes;
  if (cache_) {
    if (auto bytes = cache_->Get(tile.zoom, tile.x, tile.y)) return bytes;
  }
  if (serverProblem_) return std::nullopt;
  for (int busyWaits = 0;; ++busyWaits) {
    if (aborted_.load() || !stillWanted() || !BrowsingPacer().Acquire(aborted_) || !stillWanted()) {
      return std::nullopt;
    }
    std::optional<int> busySeconds;
    auto bytes = FromServer(tile, busyWaits < qm::kMaxRetryAfterWaits ? &busySeconds : nullptr);
    if (bytes && cache_) cache_->Put(tile.zoom, tile.x, tile.y, *bytes);
    if (bytes || !busySeconds) return bytes;
    if (!WaitForServer(*busySeconds * retryAfterMsPerSecond_.load(), stillWanted)) return std::nullopt;
  }
}

// Waits ms; false as soon as the source is aborted or, looked at a few times a second, the tile
// is no longer wanted.
bool WebTileSource::WaitForServer(int ms, const std::function<bool()>& stillWanted) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kLookAgain = std::chrono::milliseconds(250);
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) {
    if (!stillWanted()) return false;
    std::unique_lock lock(mutex_);
    if (abortWake_.wait_until(lock, std::min(until, Clock::now() + kLookAgain), [this] { return aborted_.load(); })) {
      return false;
    }
  }
  return !aborted_.load();
}

std::optional<std::string> WebTileSource::FromProjects(const WebTile& tile) const {
  for (const ProjectArea& project : projects_) {
    if (project.zoom != tile.zoom || !project.Contains(tile.x, tile.y)) continue;
    const std::string path = project.TilePath(static_cast<int32_t>(tile.x), static_cast<int32_t>(tile.y));
    if (FileStateOf(path, blankBytes_) != FileState::kPresent) continue;
    try {
      return qm::ReadWholeFile(path);
    } catch (const std::exception&) {
      // A file that went away meanwhile: another source may have the tile.
    }
  }
  return std::nullopt;
}

std::optional<std::string> WebTileSource::FromServer(const WebTile& tile, std::optional<int>* busySeconds) {
  std::unique_ptr<qm::HttpClient> client = TakeClient();
  std::string body;
  ++requests_;
  const qm::HttpResult result = client->Get(
      SatelliteTileUrl(settings_.tileServer, tile.zoom, static_cast<int32_t>(tile.x), static_cast<int32_t>(tile.y)),
      body);
  GiveBack(std::move(client));
  if (result.ok && LooksLikeImage(body)) return body;  // an answer worth keeping, not an error page
  ++failures_;
  std::string failure = result.ok ? "The tile server answered with something other than an image." : result.message;
  if (busySeconds) {
    *busySeconds = qm::RetryAfterOf(result);
    if (*busySeconds) failure = qm::ServerBusyText(result.message, **busySeconds);
  }
  std::lock_guard lock(mutex_);
  lastFailure_ = std::move(failure);
  return std::nullopt;
}

std::unique_ptr<qm::HttpClient> WebTileSource::TakeClient() {
  std::lock_guard lock(mutex_);
  std::unique_ptr<qm::HttpClient> client;
  if (!idle_.empty()) {
    client = std::move(idle_.back());
    idle_.pop_back();
  } else {
    client = std::make_unique<qm::HttpClient>();
    client->SetTimeouts(kConnectSeconds, kStallSeconds);
    if (settings_.proxy) client->SetProxy(*settings_.proxy);
    // A saved server's headers (its key, its User-Agent) go with browsing as with downloads.
    if (!settings_.headers.empty()) client->SetHeaders(settings_.headers);
  }
  if (aborted_.load()) client->Abort();
  busy_.push_back(client.get());
  return client;
}

void WebTileSource::GiveBack(std::unique_ptr<qm::HttpClient> client) {
  std::lock_guard lock(mutex_);
  busy_.erase(std::find(busy_.begin(), busy_.end(), client.get()));
  idle_.push_back(std::move(client));
}

void WebTileSource::Abort() {
  aborted_ = true;
  BrowsingPacer().WakeAll();
  std::lock_guard lock(mutex_);
  for (qm::HttpClient* client : busy_) client->Abort();
  abortWake_.notify_all();
}

std::string WebTileSource::LastFailure() const {
  std::lock_guard lock(mutex_);
  return lastFailure_;
}

}  // namespace mapview
