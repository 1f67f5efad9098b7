// One opened project in the map viewer: its area and tile states, the overview store and
// builder, the image cache, the folder survey and the folder watch. The window owns one at a
// time; everything here but the survey and builder threads lives on the window's thread.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>

#include <QObject>

#include "engine/area_cover.h"
#include "engine/project_area.h"
#include "mapview/folder_watch.h"
#include "mapview/overview_builder.h"
#include "mapview/overview_store.h"
#include "mapview/piece_cache.h"
#include "mapview/tile_states.h"
#include "mapview/tile_survey.h"
#include "verify/project_verify.h"

class QSocketNotifier;

class ViewerSession : public QObject {
  Q_OBJECT

 public:
  // Throws ProjectAreaError when the project file holds no area.
  ViewerSession(const std::string& projectFile, std::string blankBytes, QObject* parent = nullptr);
  // A project whose area is known already: a level of a set, whose task file may not exist yet.
  // Throws ProjectAreaError when the area is beyond what the viewer shows.
  ViewerSession(const std::string& projectFile, const ProjectArea& area, std::string blankBytes,
                QObject* parent = nullptr);
  ~ViewerSession() override;

  const std::string& ProjectFile() const { return projectFile_; }
  const ProjectArea& Area() const { return area_; }
  // Whether the project file exists: a level of a set that has not started has none.
  bool Started() const;
  mapview::CellRect Cells() const;
  // Null when the area is too large to survey.
  mapview::TileStateGrid* States() { return states_.get(); }
  mapview::PieceCache& Cache() { return *cache_; }
  const mapview::OverviewBuilder& Builder() const { return *builder_; }
  bool Surveying() const { return surveying_; }
  int64_t FilesSurveyed() const { return filesSurveyed_; }
  // Starts the survey, the builder and the watch.
  void Start();
  // The survey and the watch alone: a level of a set that is only looked at for its tiles.
  void StartSurvey();
  // The overview builder, once, when the project is first shown.
  void StartOverviews();
  // Watches the tile folder once it exists (a fetch or a download may create it), surveying it
  // again when the watch begins later than the survey.
  void WatchTileFolder();
  // Surveys the tile folder anew and looks at every overview again (after changes went unseen).
  void Rescan();
  // Tiles of the rectangle outside the task's shaped area are left unmarked and uncounted; the
  // outline is kept for drawing. Before StartSurvey.
  void SetShape(const AreaCover& cover, std::vector<mapview::PointRing> outline);
  // The shape's outline in longitudes and latitudes; empty for a rectangle's task.
  const std::vector<mapview::PointRing>& Outline() const { return outline_; }
  // The tiles inside the shaped area; nothing for a rectangle's task.
  std::optional<int64_t> TilesInside() const { return tilesInside_; }
  // Marks the tiles of the verify list beside the project (none when there is none), except those
  // written again since the list was made. A kept report goes when the list is no longer the one
  // it wrote.
  void ReadVerifyList();
  // The report of the verify that has just written the list, kept while the list stays as it is.
  void KeepVerifyReport(const VerifyReport& report);
  const std::optional<VerifyReport>& KeptVerifyReport() const { return verifyReport_; }
  std::string VerifyListFile() const { return mapview::VerifyListOf(area_); }

 signals:
  void statesChanged();
  void imagesChanged();

 private:
  void StartSurveyRound();
  void StopSurvey();
  void Survey();
  void TakeSurveyed(int round, const std::vector<mapview::TileFile>& files);
  void SurveyEnded(int round, bool completed);
  int64_t CellIndex(int64_t x, int64_t y) const;
  void ReadChanges();
  void TileChanged(int64_t x, int64_t y);
  void ReadFailedList();

  const std::string projectFile_;
  const ProjectArea area_;
  const std::string blankBytes_;
  std::vector<mapview::PointRing> outline_;
  std::optional<int64_t> tilesInside_;
  std::optional<VerifyReport> verifyReport_;
  std::string verifyReportStamp_;  // of the list the report wrote
  std::unique_ptr<mapview::TileStateGrid> states_;
  mapview::OverviewStore store_;
  std::unique_ptr<mapview::PieceCache> cache_;
  std::unique_ptr<mapview::OverviewBuilder> builder_;
  mapview::FolderWatch watch_;
  bool building_ = false;
  QSocketNotifier* notifier_ = nullptr;
  bool surveying_ = false;
  int64_t filesSurveyed_ = 0;
  // Tiles the watch reported while a survey ran: the survey's older word on them is ignored.
  std::unordered_set<int64_t> changedDuringSurvey_;
  std::atomic<bool> stopSurvey_{false};
  std::atomic<int> surveyRound_{0};  // batches of earlier rounds are dropped
  std::thread survey_;
};
