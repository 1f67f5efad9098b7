// The map viewer's window: the map of one project, or of the level of a level set that suits the
// view, a legend with the shown level's tile counts, the level picker and the fetch controls, and
// a status bar that names the place and the tile under the cursor.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QMainWindow>

#include "companions/fetch_again.h"
#include "companions/viewer_verify.h"
#include "companions/viewer_session.h"
#include "mapview/level_view.h"
#include "mapview/map_widget.h"

class QAction;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class MapViewerWindow : public QMainWindow {
  Q_OBJECT

 public:
  // programFolder holds ini/config.ini and blankimg/blank.jpg.
  explicit MapViewerWindow(std::string programFolder, QWidget* parent = nullptr);
  ~MapViewerWindow() override;

  // Opens a project (.qmtp) or a level set (.qmset); on failure shows why and keeps what was
  // open. Returns whether it opened.
  bool OpenProject(const std::string& file);
  // The project of the settings' LastProject, when there is one.
  void OpenLastProject();
  mapview::MapWidget* Map() const { return map_; }
  // The project shown: of a level set, the level in view.
  ViewerSession* Session() const { return session_; }
  QString LegendText() const;
  // The last verify's result, as the status bar shows it.
  QString VerifyText() const;
  // Where the window's warnings go instead of a message box (tests record them).
  void SetWarningSink(std::function<void(const QString&)> sink) { warn_ = std::move(sink); }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildLegend();
  void ChooseProject();
  bool OpenLevelSet(const std::string& setFile);
  // Replaces what was open by the levels (one for a project), coarsest first.
  bool OpenLevels(std::vector<mapview::SetLevel> levels, const std::string& file, const QString& setName);
  ViewerSession* LevelSession(size_t index);
  void ShowLevel(size_t index);
  // Of a set, the level the picker names, or the finest with the tiles in view.
  void ChooseLevel();
  void FillPicker();
  void NameLevels();
  void ShowTitle();
  void Reopen();
  void UpdateLegend();
  void ShowHover(double tileX, double tileY);
  void FetchSelected();
  void ShowFetchProgress(qint64 done, qint64 total, qint64 failed);
  void FetchEnded(const QString& summary);
  void StartVerify();
  void ShowVerifyProgress(qint64 checked, qint64 total);
  void VerifyEnded(const std::optional<VerifyReport>& report, const QString& failure);
  void SelectVerifyListed();
  // The verify line and the actions that depend on the shown project's tiles.
  void ShowVerifyState(mapview::TileStateGrid* states, bool started);
  // Whether the project file is one of the open project's or set's.
  bool IsOpen(const std::string& projectFile) const;
  // The level's shaped area, when its project names one, before its survey starts.
  bool ApplyShape(ViewerSession& session, const mapview::SetLevel& place, const std::string& openedFile);
  std::string OpenFolder() const;
  void Warn(const QString& text);

  const std::string programFolder_;
  std::string blankBytes_;
  struct Level {
    mapview::SetLevel place;
    std::unique_ptr<ViewerSession> session;  // opened when the level is first looked at
    bool refused = false;  // it could not be opened; it is not tried again
  };
  std::vector<Level> levels_;
  std::string openedFile_;
  QString setName_;  // empty for a project
  ViewerSession* session_ = nullptr;
  bool choosing_ = false;
  mapview::MapWidget* map_;
  QLabel* title_;
  QWidget* pickerRow_;
  QComboBox* picker_;
  QLabel* counts_[mapview::kTileStateCount + 1] = {};
  QProgressBar* fetchBar_;
  QLabel* progress_;
  QPushButton* fetchButton_;
  QPushButton* clearButton_;
  QPushButton* stopButton_;
  QPushButton* verifyButton_;
  QPushButton* selectListedButton_;
  QPushButton* cancelVerifyButton_;
  QProgressBar* verifyBar_;
  QAction* verifyAction_;
  QAction* selectListedAction_;
  QAction* fetchAction_;
  QLabel* verifyResult_;  // in the status bar, beside the place under the cursor
  QLabel* hoverLabel_;
  QTimer* legendTimer_;
  FetchAgainRun fetch_;
  std::string fetchProject_;  // the project the fetch runs for
  ViewerVerifyRun verify_;
  std::function<void(const QString&)> warn_;
};
