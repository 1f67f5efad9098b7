// The viewer's fetch: a list of "path|url" lines for the re-download run.
#include "companions/fetch_again.h"

#include <stdexcept>

#include "download/redownload_run.h"
#include "engine/tile_server_setting.h"
#include "mapview/tile_survey.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"

namespace {

// Counts the run's entries and hands them to the window's thread.
class CountingView : public RedownloadView {
 public:
  CountingView(FetchAgainRun& run, int64_t total, const std::atomic<bool>& stop)
      : run_(run), total_(total), stop_(stop) {}

  void AddEntry(const std::string& entry) override {
    if (entry.ends_with(" ->OK")) {
      ++done_;
    } else if (entry.starts_with("Error: may be your IP is banned")) {
      refused_ = true;
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
  bool KeepGoing() override { return !stop_.load(); }

  QString Summary() const {
    QString text = QString("Fetched %1 of %2 tiles").arg(done_ - failed_).arg(total_);
    if (failed_ > 0) text += QString("; %1 failed (last: %2)").arg(failed_).arg(QString::fromStdString(lastFailure_).trimmed());
    if (refused_) text += "; the server refused us, so the fetch ended";
    else if (stop_.load() && done_ < total_) text += "; stopped";
    return text + ".";
  }

 private:
  FetchAgainRun& run_;
  const int64_t total_;
  const std::atomic<bool>& stop_;
  int64_t done_ = 0, failed_ = 0;
  bool refused_ = false;
  std::string lastFailure_;
};

}  // namespace

FetchSettings ReadFetchSettings(const std::string& configFile) {
  const qm::IniFile config(configFile);
  FetchSettings settings;
  settings.tileServer = config.ReadString("IniParas", "TileServer", kDefaultTileServer);
  if (config.ReadInteger("Proxy", "UseProxy", 0) != 1) return settings;
  const std::string portText = config.ReadString("Proxy", "ProxyPort", "");
  const std::optional<int32_t> port = qm::IntegerFromText(portText);
  if (!port || *port < 1 || *port > 65535) {
    throw std::runtime_error("The proxy port \"" + portText + "\" of the settings is not a port number (1 to 65535).");
  }
  settings.proxy = qm::ProxySettings{config.ReadString("Proxy", "ProxyServer", ""), *port,
                                     config.ReadString("Proxy", "ProxyUsername", ""),
                                     config.ReadString("Proxy", "ProxyPassword", "")};
  return settings;
}

FetchAgainRun::~FetchAgainRun() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void FetchAgainRun::Start(const ProjectArea& area, const std::vector<mapview::TileXY>& tiles,
                          const FetchSettings& settings, const std::string& listFile) {
  if (thread_.joinable()) thread_.join();
  qm::CreateDirectory(area.tileFolder);
  qm::WriteFileAtomic(listFile, mapview::FetchListFor(area, settings.tileServer, tiles));
  stop_ = false;
  ended_ = false;
  const auto total = static_cast<int64_t>(tiles.size());
  thread_ = std::thread([this, listFile, proxy = settings.proxy, total] {
    CountingView view(*this, total, stop_);
    QString summary;
    try {
      RunRedownload(listFile, view, proxy);
      summary = view.Summary();
    } catch (const std::exception& e) {
      summary = view.Summary() + " " + QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(this, [this, summary] { Finish(summary); }, Qt::QueuedConnection);
  });
}

void FetchAgainRun::Finish(const QString& summary) {
  ended_ = true;
  emit ended(summary);
}
