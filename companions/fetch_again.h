// Fetching chosen tiles of a project again with the re-download run, on a thread of its own,
// through the proxy of the program's settings. Tiles that arrive land in the tile folder, where
// the viewer's folder watch sees them.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QObject>

#include "engine/project_area.h"
#include "mapview/tile_states.h"
#include "platform/http_client.h"

// What the fetch needs from the settings file: the tile server and the proxy when it is on.
struct FetchSettings {
  std::string tileServer;
  std::optional<qm::ProxySettings> proxy;
};
// Throws std::runtime_error with a message for the user when the proxy port is not usable.
FetchSettings ReadFetchSettings(const std::string& configFile);

class FetchAgainRun : public QObject {
  Q_OBJECT

 public:
  explicit FetchAgainRun(QObject* parent = nullptr) : QObject(parent) {}
  ~FetchAgainRun() override;  // stops after the tile being fetched

  bool Running() const { return thread_.joinable() && !ended_; }
  // Writes the list of tiles into listFile and starts; throws qm::FileError when it cannot.
  void Start(const ProjectArea& area, const std::vector<mapview::TileXY>& tiles, const FetchSettings& settings,
             const std::string& listFile);
  void Stop() { stop_ = true; }

 signals:
  void progressed(qint64 done, qint64 total, qint64 failed);
  // A sentence on how the run ended.
  void ended(const QString& summary);

 private:
  void Finish(const QString& summary);

  std::atomic<bool> stop_{false};
  bool ended_ = false;
  std::thread thread_;
};
