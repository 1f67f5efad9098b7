// Fetching chosen tiles of a project again with the re-download run, on a thread of its own,
// through the proxy of the program's settings. Tiles that arrive land in the tile folder, where
// the viewer's folder watch sees them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QObject>

#include "engine/fetch_settings.h"
#include "engine/project_area.h"
#include "mapview/tile_states.h"
#include "platform/http_client.h"

class FetchAgainRun : public QObject {
  Q_OBJECT

 public:
  explicit FetchAgainRun(QObject* parent = nullptr) : QObject(parent) {}
  ~FetchAgainRun() override;  // stops after the tile being fetched

  bool Running() const { return thread_.joinable() && !ended_; }
  // Starts fetching the tiles; the thread writes their list into listFile first (a failure to
  // write it ends the run with its message).
  void Start(const ProjectArea& area, const std::vector<mapview::TileXY>& tiles, const FetchSettings& settings,
             const std::string& listFile);
  // Ends the run now: the request in hand is aborted.
  void Stop();

 signals:
  void progressed(qint64 done, qint64 total, qint64 failed);
  // A sentence on how the run ended.
  void ended(const QString& summary);

 private:
  void Finish(const QString& summary);

  friend class CountingView;
  void SetClient(qm::HttpClient* client);
  // Waits ms unless Stop comes first; false when it did.
  bool WaitUnlessStopped(int ms);

  std::atomic<bool> stop_{false};
  std::mutex clientMutex_;
  qm::HttpClient* client_ = nullptr;  // the run's client while it runs
  std::condition_variable stopWake_;  // with clientMutex_: ends a wait for a busy server
  bool ended_ = false;
  std::thread thread_;
};
