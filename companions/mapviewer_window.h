// The map viewer's window: the map of one project, a legend with the tile counts and the fetch
// controls, and a status bar that names the place and the tile under the cursor.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QMainWindow>

#include "companions/fetch_again.h"
#include "companions/viewer_session.h"
#include "mapview/map_widget.h"

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

  // Opens a project; on failure shows why and keeps what was open. Returns whether it opened.
  bool OpenProject(const std::string& projectFile);
  // The project of the settings' LastProject, when there is one.
  void OpenLastProject();
  mapview::MapWidget* Map() const { return map_; }
  ViewerSession* Session() const { return session_.get(); }
  QString LegendText() const;
  // Where the window's warnings go instead of a message box (tests record them).
  void SetWarningSink(std::function<void(const QString&)> sink) { warn_ = std::move(sink); }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildLegend();
  void ChooseProject();
  void Reopen();
  void UpdateLegend();
  void ShowHover(double tileX, double tileY);
  void FetchSelected();
  void ShowFetchProgress(qint64 done, qint64 total, qint64 failed);
  void FetchEnded(const QString& summary);
  std::string OpenFolder() const;
  void Warn(const QString& text);

  const std::string programFolder_;
  std::string blankBytes_;
  std::unique_ptr<ViewerSession> session_;
  mapview::MapWidget* map_;
  QLabel* title_;
  QLabel* counts_[mapview::kTileStateCount + 1] = {};
  QProgressBar* fetchBar_;
  QLabel* progress_;
  QPushButton* fetchButton_;
  QPushButton* clearButton_;
  QPushButton* stopButton_;
  QLabel* hoverLabel_;
  QTimer* legendTimer_;
  FetchAgainRun fetch_;
  std::function<void(const QString&)> warn_;
};
