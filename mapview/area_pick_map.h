// The web map of the area picker: the map view's panning and zooming, plus a rectangle the user
// draws (Shift+drag, a right-button drag, or any drag in draw mode), adjusts by its edges and
// corners, and moves by its middle handle or a Ctrl+drag inside it. A plain drag elsewhere pans. The rectangle is shown as the tiles of the download zoom it
// takes; downloaded projects of that zoom can be drawn over the map with their stored tiles, and
// the task's shaped area with its outline and, at the download zoom, the tiles it covers.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "engine/project_area.h"
#include "mapview/area_pick.h"
#include "mapview/map_widget.h"

class AreaCover;
struct TaskArea;

namespace mapview {

// A downloaded project and its tiles found stored (present) in its folder.
struct ProjectOverlay {
  ProjectArea area;
  std::shared_ptr<const TileStateGrid> tiles;  // null while the folder is being listed
};

// Where a label that wants a place goes among labels already placed: moved down below those it
// would cover.
QRectF PlaceLabel(QRectF wanted, const std::vector<QRectF>& taken);

class AreaPickMap : public MapWidget {
  Q_OBJECT

 public:
  explicit AreaPickMap(QWidget* parent = nullptr);
  ~AreaPickMap() override;

  void SetDownloadZoom(int zoom);
  int DownloadZoom() const { return zoom_; }
  void SetRectangle(const std::optional<WorldRect>& rect);
  const std::optional<WorldRect>& Rectangle() const { return rect_; }
  // The download zoom's tiles under the rectangle.
  std::optional<TileRange> Range() const;
  // While on, a plain drag draws a rectangle (instead of panning); it ends after one.
  void SetDrawMode(bool on);
  bool DrawMode() const { return drawMode_; }
  void SetOverlays(std::vector<ProjectOverlay> overlays);
  void ShowOverlays(bool on);
  // The task's shaped area, or none (null), and its outline in longitudes and latitudes. The
  // outline is drawn at every scale; the tiles the area covers at the download zoom are tinted
  // while few enough are in view to tell apart.
  void SetTaskArea(std::shared_ptr<const TaskArea> area, const std::vector<PointRing>& outline);
  // The area's tiles at the download zoom; nothing without an area, when they cannot be found,
  // or when the outline spans too many tiles of that zoom to tint them.
  const AreaCover* Cover() const { return cover_.get(); }

 signals:
  void rectangleChanged();
  void drawModeEnded();

 protected:
  void DrawOverlay(QPainter& painter) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  enum class Gesture { kNone, kDraw, kEdges, kMove };
  void DrawProjects(QPainter& painter);
  void DrawProjectNames(QPainter& painter);
  void DrawCover(QPainter& painter);
  void CoverAtZoom();
  void DrawRectangle(QPainter& painter);
  void DrawMoveHandle(QPainter& painter, QPointF centre);
  int GripAt(QPointF at, Qt::KeyboardModifiers modifiers) const;
  void ShowCursorFor(QPointF at);
  QPointF WorldAt(QPointF screen) const;

  int zoom_ = 13;
  std::optional<WorldRect> rect_;
  bool drawMode_ = false;
  std::vector<ProjectOverlay> overlays_;
  bool showOverlays_ = false;
  std::shared_ptr<const TaskArea> taskArea_;
  std::unique_ptr<const AreaCover> cover_;  // at zoom_
  WorldRect outlineBounds_;

  Gesture gesture_ = Gesture::kNone;
  int edges_ = kNoEdge;
  QPointF pressAt_, pressWorld_;
  bool moved_ = false;
  WorldRect rectAtPress_;
  TileRange rangeAtPress_;
};

}  // namespace mapview
