// "Pick on map": a dialog with a web map of the tile server's imagery on which the user draws
// the download area. Its tiles come from downloaded projects, a disk cache or the server at no
// more than eight requests a second. The chosen tile range comes back as the texts of the main
// window's four coordinate fields and zoom levels.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include <QDialog>
#include <QThreadPool>

#include "engine/area_texts.h"
#include "engine/fetch_settings.h"
#include "engine/level_set.h"
#include "engine/project_area.h"
#include "engine/task_area.h"
#include "mapview/area_pick_map.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace mapview {
class PieceCache;
class WebTileSource;
}  // namespace mapview

struct AreaPickerInputs {
  FetchSettings settings;
  std::vector<ProjectArea> projects;  // downloaded projects, browsed offline and shown on request
  std::string blankBytes;             // the blank tile, which is no imagery
  std::string cacheFolder;            // the disk cache of browsed tiles (none when empty)
  AreaTexts fields;                   // the main window's fields: the first rectangle, if they make one
  std::string zoomTo;                 // the last level of a level set; as fields.zoom for one level
};

class AreaPickerDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AreaPickerDialog(AreaPickerInputs inputs, QWidget* parent = nullptr);
  ~AreaPickerDialog() override;

  mapview::AreaPickMap& Map() { return *map_; }
  mapview::WebTileSource& Source() { return *source_; }
  // The field texts of the rectangle drawn, at the finest zoom; nothing without one. While the
  // rectangle is still the fields' own, the fields' texts themselves.
  std::optional<AreaTexts> Texts() const;
  // The zoom levels chosen: the first and the last of a level set, or one level twice.
  ZoomRange Zooms() const;
  // The shape in use: drawn with its tiles, and the figures count only the tiles inside it.
  void SetArea(std::shared_ptr<const TaskArea> area, const std::vector<AreaRing>& outline);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildLayout();
  QWidget* BuildControls();
  void StartRetryingFailures();
  void StartRectangleFromFields(const AreaTexts& fields, const std::string& zoomTo);
  void ZoomChanged(int zoom);
  void ZoomsChanged();
  // The fields' rectangle at a zoom as the map draws it; nothing when they do not make one.
  std::optional<mapview::WorldRect> FieldsRectangleAt(int zoom) const;
  void SurveyProjects();
  void ShowRange();
  void ShowPlace(double worldX, double worldY);
  void GoTo();

  AreaPickerInputs inputs_;
  std::unique_ptr<mapview::WebTileSource> source_;
  std::shared_ptr<const TaskArea> area_;
  mapview::PieceCache* pieces_ = nullptr;  // owned; deleted before source_
  mapview::AreaPickMap* map_ = nullptr;
  QSpinBox* zoom_ = nullptr;
  QSpinBox* zoomTo_ = nullptr;  // the finest level, the one the map shows
  int zoomShown_ = 0;           // the zoom before its last change, which the last level followed
  // The rectangle as the fields gave it at the finest zoom, while the user has not changed it.
  std::optional<mapview::WorldRect> fieldsRect_;
  QPushButton* draw_ = nullptr;
  QCheckBox* overlay_ = nullptr;
  QLineEdit* goLongitude_ = nullptr;
  QLineEdit* goLatitude_ = nullptr;
  QLabel* rangeText_ = nullptr;
  QLabel* placeText_ = nullptr;
  QString place_;  // the place last under the pointer
  int64_t failuresRetried_ = 0;
  QPushButton* ok_ = nullptr;
  std::vector<mapview::ProjectOverlay> overlays_;
  std::atomic<bool> stopSurvey_{false};
  QThreadPool surveys_;
};
