// A pannable, zoomable map of one area of the tile grid: images from a PieceCache, the tile
// states as coloured marks, and a selection drawn by dragging. Drag pans, the wheel zooms about
// the cursor, Shift+drag (or a right-button drag) selects a rectangle of tiles, a click selects
// one tile; the arrow keys pan, + and - zoom, Home fits the area, Esc clears the selection.
#pragma once

#include <functional>
#include <optional>

#include <QBrush>
#include <QImage>
#include <QPainterPath>
#include <QPoint>
#include <QWidget>

#include "mapview/overview_plan.h"
#include "mapview/tile_states.h"
#include "mapview/view_geometry.h"

namespace mapview {

class PieceCache;

QColor StateColour(TileState state);
// Drawn over damaged tiles' colour when they are large enough on screen.
QBrush DamagedHatch();
// An image of the cells (tiles) that will be drawn over the screen rectangle: one pixel a cell, or
// one a screen pixel, sampling the cells, when cells are smaller than pixels.
QImage CellImage(const CellRect& cells, const QRectF& screen, const std::function<QRgb(int64_t, int64_t)>& colourOf);
inline const QColor kSelectedColour(0, 220, 255, 200);

class MapWidget : public QWidget {
  Q_OBJECT

 public:
  explicit MapWidget(QWidget* parent = nullptr);

  // The area to show and where its images come from; the view fits the area.
  void SetArea(const CellRect& area, PieceCache* cache);
  // Another area in place of this one (a level of another zoom), seen through view, which keeps
  // whether the user moved it.
  void ReplaceArea(const CellRect& area, PieceCache* cache, const Viewport& view);
  // Every level's images are whole pieces, as the tiles of a web map's lower zooms are, and an
  // image that could not be had shows the coarser one in its place.
  void UseWebTilePyramid();
  // The marks to draw (none when null); StatesChanged redraws them after changes.
  void SetStates(TileStateGrid* states);
  void StatesChanged();
  // A shape's outline drawn as a thin line over the marks: rings of positions on the grid shown.
  void SetOutline(const std::vector<PointRing>& rings);
  // The part of the area that the first view and Home fit (the whole area unless set).
  void SetHome(const CellRect& home);
  void FitArea();
  void ZoomBy(double factor);
  const Viewport& View() const { return view_; }
  void SetView(const Viewport& view);
  // A view the user chose: it is kept when the widget is resized.
  void MoveTo(const Viewport& view);

 signals:
  // The tile position under the cursor, in tiles with fractions; hoverLeft when it leaves.
  void hovered(double tileX, double tileY);
  void hoverLeft();
  void selectionChanged();
  // The view moved or changed scale.
  void viewChanged();
  // After each paint; complete when every image the view wanted was in memory.
  void painted(bool complete);

 protected:
  // Drawn over the images and marks, last.
  virtual void DrawOverlay(QPainter&) {}
  QRectF ScreenRectOf(const CellRect& tiles) const;
  const CellRect& Area() const { return area_; }

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  enum class Drag { kNone, kPan, kSelect };
  bool DrawImages(QPainter& painter);
  bool DrawFromCoarser(QPainter& painter, const PieceKey& image);
  void DrawMarks(QPainter& painter);
  void DrawDamagedHatch(QPainter& painter, const CellRect& tiles);
  void DrawOutline(QPainter& painter);
  const QImage& Marks(CellRect& covered);
  CellRect TilesBetween(QPointF a, QPointF b) const;

  CellRect area_;
  std::optional<CellRect> home_;
  PieceCache* cache_ = nullptr;
  int firstPieceLevel_ = kFirstOverviewLevel;
  bool coarserForMissing_ = false;
  TileStateGrid* states_ = nullptr;
  QPainterPath outline_;  // in grid positions
  Viewport view_;
  bool userMoved_ = false;  // until the user pans or zooms, a resize fits the area again
  std::optional<std::pair<int64_t, int64_t>> lastClickedTile_;

  Drag drag_ = Drag::kNone;
  QPointF pressAt_, lastAt_;
  bool moved_ = false;

  // The marks image is built again only when the view or the states change.
  QImage marks_;
  CellRect marksTiles_;
  bool marksStale_ = true;
};

}  // namespace mapview
