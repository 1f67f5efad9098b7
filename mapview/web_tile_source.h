// The imagery of a web map for browsing: tiles of any zoom, taken from downloaded projects where
// they hold them, else from an on-disk cache, else from the tile server at a courteous pace (and
// then kept in the cache). Tile (z, x, y) is the piece of level kWorldZoom - z over the tile grid
// of kWorldZoom, so a map view of that grid draws the web map's zooms as its levels.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/fetch_settings.h"
#include "engine/project_area.h"
#include "mapview/tile_disk_cache.h"
#include "mapview/view_geometry.h"
#include "platform/http_client.h"
#include "platform/request_pacer.h"

namespace mapview {

// The deepest zoom a download takes, and the grid the web map is drawn over.
inline constexpr int kWorldZoom = 19;
// The pace of all browsing in the process together, however many maps are open.
inline constexpr int kBrowsingRequestsPerSecond = 8;
qm::RequestPacer& BrowsingPacer();
CellRect WorldCells();

struct WebTile {
  int zoom = 0;
  int64_t x = 0, y = 0;
};
WebTile WebTileOf(const PieceKey& piece);

// The projects of the project files in folder (*.qmtp) and of extra files, each once; files that
// cannot be read are left out.
std::vector<ProjectArea> FindProjects(const std::string& folder, const std::vector<std::string>& extraFiles);

class WebTileSource {
 public:
  // blankBytes is the blank tile a download stores for tiles it could not get: such files are no
  // imagery and are passed over.
  WebTileSource(FetchSettings settings, std::vector<ProjectArea> projects, std::string blankBytes,
                std::unique_ptr<TileDiskCache> cache);
  ~WebTileSource();

  // The tile's image file bytes, or nothing. Before asking the server, which may mean waiting
  // for a turn, stillWanted is asked again and the request skipped when it says no. A busy
  // server's Retry-After is waited out (while the tile is still wanted) before it is asked
  // again. Safe from any thread.
  std::optional<std::string> Bytes(const WebTile& tile, const std::function<bool()>& stillWanted);
  // Waiting turns end and requests in flight fail; nothing is asked of the server afterwards.
  void Abort();
  // Milliseconds waited per second of a Retry-After; shorter in tests.
  void SetRetryAfterScale(int msPerSecond) { retryAfterMsPerSecond_ = msPerSecond; }

  // Why the server is not asked at all (a malformed URL template), or nothing.
  const std::optional<std::string>& ServerProblem() const { return serverProblem_; }
  int64_t Requests() const { return requests_.load(); }
  int64_t Failures() const { return failures_.load(); }
  std::string LastFailure() const;

 private:
  std::optional<std::string> FromProjects(const WebTile& tile) const;
  // busySeconds, when given, receives the wait a busy server asked for.
  std::optional<std::string> FromServer(const WebTile& tile, std::optional<int>* busySeconds);
  bool WaitForServer(int ms, const std::function<bool()>& stillWanted);
  std::unique_ptr<qm::HttpClient> TakeClient();
  void GiveBack(std::unique_ptr<qm::HttpClient> client);

  const FetchSettings settings_;
  const std::vector<ProjectArea> projects_;
  const std::string blankBytes_;
  const std::optional<std::string> serverProblem_;
  std::unique_ptr<TileDiskCache> cache_;
  std::atomic<bool> aborted_{false};
  std::atomic<int64_t> requests_{0}, failures_{0};
  std::atomic<int> retryAfterMsPerSecond_{1000};

  mutable std::mutex mutex_;  // guards the clients and lastFailure_
  std::condition_variable abortWake_;  // with mutex_: ends the waits for a busy server
  std::vector<std::unique_ptr<qm::HttpClient>> idle_;
  std::vector<qm::HttpClient*> busy_;
  std::string lastFailure_;
};

}  // namespace mapview
