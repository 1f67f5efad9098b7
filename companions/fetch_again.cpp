// The viewer's fetch: a list of "path|url" lines for the re-download run.
#include "companions/fetch_again.h"

#include <stdexcept>

#include "download/redownload_run.h"
#include "engine/tile_server_setting.h"
#include "mapview/tile_states.h"
#include "mapview/tile_survey.h"
#include "mapview/web_tile_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"

// Counts the run's entries and hands them to the window's thread.
class CountingView : public RedownloadView {
 public:
  CountingView(FetchAgainRun& run, int64_t total, const std::atomic<bool>& stop)
      : run_(run), total_(total), stop_(stop) {}

  void AddEntry(const std::string& entry) override {
    if (stop_.load()) return;  // the aborted request is no failure of the tile
    if (entry.starts_with("Server busy (")) return;  // the tile is asked again after the wait
    if (entry.ends_with(" ->OK")) {
      ++done_;
    } else if (entry.starts_with("Error: may be your IP is banned")) {
      refused_ = true;
    } else if (const size_t at = entry.find(" ->refused: "); at != std::string::npos) {
      ++done_;
      ++refusedLines_;
      lastRefusal_ = entry.substr(at + 12);
    } else if (entry.find("->") != std::string::npos) {
      ++done_;
      ++failed_;
      lastFailure_ = entry.substr(0, entry.find("->"));
    } else {
      return;
    }
    QMetaObject::invokeMethod(&run_, [run = &run_, d = done_, t = total_, f = failed_] {
      emit run->progressed(d, t, f);
    }, Qt::QueuedConnection);
  }
  void ProcessEvents() override {}
  // Each request waits for its turn at the pace of the process's browsing, so fetching again
  // asks no more of the server than browsing does.
  bool KeepGoing() override { return !stop_.load() && mapview::BrowsingPacer().Acquire(stop_); }
  void ClientInUse(qm::HttpClient* client) override { run_.SetClient(client); }
  bool WaitForServer(int ms) override { return run_.WaitUnlessStopped(ms); }

  QString Summary() const {
    QString text = QString("Fetched %1 of %2 tiles").arg(done_ - failed_ - refusedLines_).arg(total_);
    if (failed_ > 0) text += QString("; %1 failed (last: %2)").arg(failed_).arg(QString::fromStdString(lastFailure_).trimmed());
    if (refusedLines_ > 0) {
      text += QString("; %1 refused (last: %2)").arg(refusedLines_).arg(QString::fromStdString(lastRefusal_));
    }
    if (refused_) text += "; the server refused us, so the fetch ended";
    else if (stop_.load() && done_ < total_) text += "; stopped";
    return text + ".";
  }

 private:
  FetchAgainRun& run_;
  const int64_t total_;
  const std::atomic<bool>& stop_;
  int64_t done_ = 0, failed_ = 0, refusedLines_ = 0;
  bool refused_ = false;
  std::string lastFailure_, lastRefusal_;
};

namespace {

// The list of the tiles as the re-download run reads it, written line by line.
void WriteFetchList(const std::string& listFile, const ProjectArea& area, const std::string& tileServer,
                    const std::vector<mapview::TileXY>& tiles) {
  qm::AtomicFileWriter list(listFile, TileUrlsCarrySecrets(tileServer) ? qm::FileAccess::kOwnerOnly
                                                                        : qm::FileAccess::kAsBefore);
  constexpr size_t kLinesAWrite = 4096;
  for (size_t at = 0; at < tiles.size(); at += kLinesAWrite) {
    const size_t end = std::min(tiles.size(), at + kLinesAWrite);
    list.Write(mapview::FetchListFor(area, tileServer, {tiles.begin() + static_cast<std::ptrdiff_t>(at),
                                                        tiles.begin() + static_cast<std::ptrdiff_t>(end)}));
  }
  list.Commit();
}

}  // namespace

FetchAgainRun::~FetchAgainRun() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void FetchAgainRun::Start(const ProjectArea& area, const std::vector<mapview::TileXY>& tiles,
                          const FetchSettings& settings, const std::string& listFile) {
  if (thread_.joinable()) thread_.join();
  qm::CreateDirectory(area.tileFolder);
  stop_ = false;
  ended_ = false;
  const auto total = static_cast<int64_t>(tiles.size());
  thread_ = std::thread([this, area, tiles, settings, listFile, total] {
    CountingView view(*this, total, stop_);
    QString summary;
    try {
      WriteFetchList(listFile, area, settings.tileServer, tiles);
      // Only tile files of the project's tile folder are written, whatever the list came to hold; the
      // requests carry the headers of the chosen server.
      RunRedownload(listFile, view, settings.proxy, RedownloadRules{area.tileFolder, settings.headers});
      summary = view.Summary();
    } catch (const std::exception& e) {
      summary = view.Summary() + " " + QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(this, [this, summary] { Finish(summary); }, Qt::QueuedConnection);
  });
}

void FetchAgainRun::Stop() {
  stop_ = true;
  mapview::BrowsingPacer().WakeAll();
  std::lock_guard lock(clientMutex_);
  if (client_) client_->Abort();
  stopWake_.notify_all();
}

bool FetchAgainRun::WaitUnlessStopped(int ms) {
  std::unique_lock lock(clientMutex_);
  return !stopWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void FetchAgainRun::SetClient(qm::HttpClient* client) {
  std::lock_guard lock(clientMutex_);
  client_ = client;
  if (client_ && stop_) client_->Abort();
}

void FetchAgainRun::Finish(const QString& summary) {
  ended_ = true;
  emit ended(summary);
}
