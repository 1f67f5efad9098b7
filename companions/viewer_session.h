// One opened project in the map viewer: its area and tile states, the overview store and
// builder, the image cache, the folder survey and the folder watch. The window owns one at a
// time; everything here but the survey and builder threads lives on the window's thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <QObject>

#include "engine/project_area.h"
#include "mapview/folder_watch.h"
#include "mapview/overview_builder.h"
#include "mapview/overview_store.h"
#include "mapview/piece_cache.h"
#include "mapview/tile_states.h"
#include "mapview/tile_survey.h"

class QSocketNotifier;

class ViewerSession : public QObject {
  Q_OBJECT

 public:
  // Throws ProjectAreaError when the project file holds no area.
  ViewerSession(const std::string& projectFile, std::string blankBytes, QObject* parent = nullptr);
  ~ViewerSession() override;

  const std::string& ProjectFile() const { return projectFile_; }
  const ProjectArea& Area() const { return area_; }
  mapview::CellRect Cells() const;
  // Null when the area is too large to survey.
  mapview::TileStateGrid* States() { return states_.get(); }
  mapview::PieceCache& Cache() { return *cache_; }
  const mapview::OverviewBuilder& Builder() const { return *builder_; }
  bool Surveying() const { return surveying_; }
  int64_t FilesSurveyed() const { return filesSurveyed_; }
  // Starts the survey, the builder and the watch.
  void Start();
  // Watches the tile folder once it exists (a fetch or a download may create it).
  void WatchTileFolder();

 signals:
  void statesChanged();
  void imagesChanged();
  // The kernel dropped folder events: the project should be opened again.
  void lostTrack();

 private:
  void Survey();
  void TakeSurveyed(std::vector<mapview::TileFile> files);
  void SurveyEnded(bool completed);
  void ReadChanges();
  void TileChanged(int64_t x, int64_t y);
  void ReadFailedList();

  const std::string projectFile_;
  const ProjectArea area_;
  const std::string blankBytes_;
  std::unique_ptr<mapview::TileStateGrid> states_;
  mapview::OverviewStore store_;
  std::unique_ptr<mapview::PieceCache> cache_;
  std::unique_ptr<mapview::OverviewBuilder> builder_;
  mapview::FolderWatch watch_;
  bool watchingTiles_ = false;
  QSocketNotifier* notifier_ = nullptr;
  bool surveying_ = false;
  int64_t filesSurveyed_ = 0;
  std::atomic<bool> stopSurvey_{false};
  std::thread survey_;
};
