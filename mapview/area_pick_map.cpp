// Drawing and adjusting the picker's rectangle; the projects drawn over the map.
#include "mapview/area_pick_map.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "engine/area_cover.h"
#include "engine/task_area.h"
#include "mapview/web_tile_source.h"

namespace mapview {

namespace {

constexpr double kEdgeSlop = 6;  // screen pixels within which an edge is taken hold of
constexpr double kDragSlop = 4;  // pixels a press may move and still be a click
constexpr double kHandleSize = 7;
constexpr double kMoveHandleSize = 11;  // the middle handle's reach, in pixels from the middle
constexpr double kMinGridSpacing = 8;  // tile lines closer than this many pixels are left out
const QColor kRectangleColour(0, 220, 255);
const QColor kProjectColour(250, 210, 40);
const QColor kStoredColour(60, 220, 90, 110);
const QColor kCoverColour(255, 235, 60, 70);
// Covered tiles are tinted while at most this many are in view and each is a few pixels wide.
constexpr int64_t kMaxTintedTiles = int64_t{1} << 16;
constexpr double kMinTintedTilePixels = 3;
// Beyond this many tiles around the outline at the download zoom, finding the covered ones would
// hold the window up; the outline alone is drawn.
constexpr double kMaxCoverSpan = double{1 << 24};

Qt::CursorShape CursorFor(int edges) {
  switch (edges) {
    case kLeft: case kRight: return Qt::SizeHorCursor;
    case kTop: case kBottom: return Qt::SizeVerCursor;
    case kLeft | kTop: case kRight | kBottom: return Qt::SizeFDiagCursor;
    case kRight | kTop: case kLeft | kBottom: return Qt::SizeBDiagCursor;
    case kInside: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
  }
}

WorldRect RectOf(const CellRect& cells) {
  return {static_cast<double>(cells.x0), static_cast<double>(cells.y0), static_cast<double>(cells.x1),
          static_cast<double>(cells.y1)};
}

}  // namespace

QRectF PlaceLabel(QRectF wanted, const std::vector<QRectF>& taken) {
  for (size_t tries = 0; tries <= taken.size(); ++tries) {
    const auto hit = std::find_if(taken.begin(), taken.end(), [&](const QRectF& r) { return r.intersects(wanted); });
    if (hit == taken.end()) break;
    wanted.moveTop(hit->bottom() + 1);
  }
  return wanted;
}

AreaPickMap::AreaPickMap(QWidget* parent) : MapWidget(parent) {
  UseWebTilePyramid();
}

AreaPickMap::~AreaPickMap() = default;

void AreaPickMap::SetDownloadZoom(int zoom) {
  const int clamped = std::clamp(zoom, 0, kWorldZoom);
  if (std::exchange(zoom_, clamped) != clamped) CoverAtZoom();
  update();
  emit rectangleChanged();
}

void AreaPickMap::SetRectangle(const std::optional<WorldRect>& rect) {
  rect_ = rect;
  update();
  emit rectangleChanged();
}

std::optional<TileRange> AreaPickMap::Range() const {
  if (!rect_) return std::nullopt;
  return RangeAt(*rect_, zoom_);
}

void AreaPickMap::SetDrawMode(bool on) {
  drawMode_ = on;
  setCursor(on ? Qt::CrossCursor : Qt::ArrowCursor);
}

void AreaPickMap::SetOverlays(std::vector<ProjectOverlay> overlays) {
  overlays_ = std::move(overlays);
  update();
}

void AreaPickMap::ShowOverlays(bool on) {
  showOverlays_ = on;
  update();
}

void AreaPickMap::SetTaskArea(std::shared_ptr<const TaskArea> area, const std::vector<PointRing>& outline) {
  taskArea_ = std::move(area);
  const std::vector<PointRing> rings = taskArea_ ? RingsOnGrid(outline, kWorldZoom) : std::vector<PointRing>{};
  SetOutline(rings);
  outlineBounds_ = {};
  bool first = true;
  for (const PointRing& ring : rings) {
    for (const auto& [x, y] : ring) {
      outlineBounds_ = first ? WorldRect{x, y, x, y}
                             : WorldRect{std::min(outlineBounds_.x0, x), std::min(outlineBounds_.y0, y),
                                         std::max(outlineBounds_.x1, x), std::max(outlineBounds_.y1, y)};
      first = false;
    }
  }
  CoverAtZoom();
  update();
}

// A cover that cannot be found (a zoom too fine for so large an area) leaves the outline alone.
void AreaPickMap::CoverAtZoom() {
  cover_.reset();
  if (!taskArea_ || !taskArea_->coverAt) return;
  const double tileCells = std::ldexp(1.0, kWorldZoom - zoom_);
  const double span = ((outlineBounds_.x1 - outlineBounds_.x0) / tileCells + 1) *
                      ((outlineBounds_.y1 - outlineBounds_.y0) / tileCells + 1);
  if (span > kMaxCoverSpan) return;
  try {
    cover_ = std::make_unique<const AreaCover>(taskArea_->coverAt(zoom_));
  } catch (const std::exception&) {
    cover_.reset();
  }
}

QPointF AreaPickMap::WorldAt(QPointF screen) const { return {View().TileX(screen.x()), View().TileY(screen.y())}; }

void AreaPickMap::DrawOverlay(QPainter& painter) {
  if (showOverlays_) DrawProjects(painter);
  DrawCover(painter);
  DrawRectangle(painter);
}

// Each project of the download zoom: its outline, its stored tiles tinted green and the others
// in the viewer's colours for blank and missing tiles.
void AreaPickMap::DrawProjects(QPainter& painter) {
  const int level = kWorldZoom - zoom_;
  for (const ProjectOverlay& overlay : overlays_) {
    if (overlay.area.zoom != zoom_) continue;
    const TileRange range{zoom_, overlay.area.minX, overlay.area.minY, overlay.area.maxX, overlay.area.maxY};
    const CellRect cells = WorldCellsOf(range);
    const CellRect tiles = VisiblePieces(View(), cells, level);
    if (overlay.tiles && !tiles.Empty()) {
      const CellRect shown{tiles.x0 << level, tiles.y0 << level, tiles.x1 << level, tiles.y1 << level};
      const QRectF screen = ScreenRectOf(shown);
      const TileStateGrid& grid = *overlay.tiles;
      painter.setRenderHint(QPainter::SmoothPixmapTransform, false);  // sharp tile edges
      painter.drawImage(screen, CellImage(tiles, screen, [&grid](int64_t x, int64_t y) {
                          const TileState state = grid.At(x, y);
                          return state == TileState::kPresent ? kStoredColour.rgba() : StateColour(state).rgba();
                        }));
    }
    painter.setPen(QPen(kProjectColour, 1.5, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(ScreenRectOf(cells));
  }
  DrawProjectNames(painter);
}

// The names go over every project's tiles; a name that would cover another is put below it.
void AreaPickMap::DrawProjectNames(QPainter& painter) {
  const QFontMetricsF metrics(painter.font());
  std::vector<QRectF> labels;
  for (const ProjectOverlay& overlay : overlays_) {
    if (overlay.area.zoom != zoom_) continue;
    const TileRange range{zoom_, overlay.area.minX, overlay.area.minY, overlay.area.maxX, overlay.area.maxY};
    const QString name = QString::fromStdString(overlay.area.name);
    const QRectF wanted(ScreenRectOf(WorldCellsOf(range)).topLeft() + QPointF(3, 3),
                        QSizeF(metrics.horizontalAdvance(name) + 6, metrics.height() + 2));
    labels.push_back(PlaceLabel(wanted, labels));
    painter.fillRect(labels.back(), QColor(0, 0, 0, 150));
    painter.setPen(kProjectColour);
    painter.drawText(labels.back(), Qt::AlignCenter, name);
  }
}

void AreaPickMap::DrawCover(QPainter& painter) {
  if (!cover_ || cover_->Empty()) return;
  const int level = kWorldZoom - zoom_;
  const ::TileRange bounds = cover_->Bounds();
  const CellRect coverTiles{bounds.MinX, bounds.MinY, int64_t{bounds.MaxX} + 1, int64_t{bounds.MaxY} + 1};
  const CellRect tiles = VisiblePieces(View(), {coverTiles.x0 << level, coverTiles.y0 << level,
                                                coverTiles.x1 << level, coverTiles.y1 << level}, level);
  if (tiles.Empty() || tiles.Count() > kMaxTintedTiles || View().pixelsPerTile * std::ldexp(1.0, level) < kMinTintedTilePixels) {
    return;
  }
  const QRectF screen = ScreenRectOf({tiles.x0 << level, tiles.y0 << level, tiles.x1 << level, tiles.y1 << level});
  const AreaCover& cover = *cover_;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(screen, CellImage(tiles, screen, [&cover](int64_t x, int64_t y) {
                      return cover.Contains(static_cast<int32_t>(x), static_cast<int32_t>(y)) ? kCoverColour.rgba() : 0u;
                    }));
}

void AreaPickMap::DrawRectangle(QPainter& painter) {
  const std::optional<TileRange> range = Range();
  if (!range) return;
  const QRectF screen = ScreenRectOf(WorldCellsOf(*range));
  QColor fill = kRectangleColour;
  fill.setAlpha(40);
  painter.fillRect(screen, fill);
  const double tilePixels = screen.width() / static_cast<double>(range->maxX - range->minX + 1);
  if (tilePixels >= kMinGridSpacing) {
    painter.setPen(QPen(QColor(255, 255, 255, 90), 1));
    for (double x = screen.left() + tilePixels; x < screen.right() - 1; x += tilePixels) {
      painter.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
    }
    for (double y = screen.top() + tilePixels; y < screen.bottom() - 1; y += tilePixels) {
      painter.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
    }
  }
  painter.setPen(QPen(kRectangleColour, 2));
  painter.drawRect(screen);
  painter.setBrush(kRectangleColour);
  painter.setPen(QPen(Qt::black, 1));
  for (const double x : {screen.left(), screen.center().x(), screen.right()}) {
    for (const double y : {screen.top(), screen.center().y(), screen.bottom()}) {
      if (x == screen.center().x() && y == screen.center().y()) continue;
      painter.drawRect(QRectF(x - kHandleSize / 2, y - kHandleSize / 2, kHandleSize, kHandleSize));
    }
  }
  DrawMoveHandle(painter, screen.center());
}

// A round handle with a cross of arrows: what to drag to move the rectangle.
void AreaPickMap::DrawMoveHandle(QPainter& painter, QPointF centre) {
  const double r = kMoveHandleSize - 2;
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(kRectangleColour);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawEllipse(centre, r, r);
  painter.setPen(QPen(Qt::black, 1.5));
  const double arm = r - 3, tip = 2.5;
  for (const QPointF d : {QPointF(1, 0), QPointF(-1, 0), QPointF(0, 1), QPointF(0, -1)}) {
    const QPointF end = centre + d * arm;
    const QPointF side(d.y(), d.x());
    painter.drawLine(centre, end);
    painter.drawLine(end, end - d * tip + side * tip);
    painter.drawLine(end, end - d * tip - side * tip);
  }
  painter.setRenderHint(QPainter::Antialiasing, false);
}

// A plain drag pans wherever it starts, but on an edge, a corner or the middle handle; the middle
// handle, or Ctrl with a drag anywhere inside, moves the rectangle.
void AreaPickMap::mousePressEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  const bool left = event->button() == Qt::LeftButton;
  const bool drawGesture = event->button() == Qt::RightButton ||
                           (left && (drawMode_ || (event->modifiers() & Qt::ShiftModifier)));
  const int edges = Range() && left ? GripAt(at, event->modifiers()) : kNoEdge;
  pressAt_ = at;
  pressWorld_ = WorldAt(at);
  moved_ = false;
  if (drawGesture) {
    gesture_ = Gesture::kDraw;
  } else if (edges != kNoEdge) {
    gesture_ = edges == kInside ? Gesture::kMove : Gesture::kEdges;
    edges_ = edges;
    // Taken hold of, the rectangle is brought onto the tiles it shows, so that an edge follows
    // the pointer from where it is drawn and a move keeps its size.
    rangeAtPress_ = *Range();
    rectAtPress_ = RectOf(WorldCellsOf(rangeAtPress_));
  } else {
    MapWidget::mousePressEvent(event);
  }
}

// What a left press at the point takes hold of: edges, kInside to move, or kNoEdge to pan.
int AreaPickMap::GripAt(QPointF at, Qt::KeyboardModifiers modifiers) const {
  const CellRect shown = WorldCellsOf(*Range());
  const int edges = EdgesNear(View(), shown, at.x(), at.y(), kEdgeSlop);
  if (edges != kInside) return edges;
  const bool onHandle = (at - ScreenRectOf(shown).center()).manhattanLength() <= kMoveHandleSize;
  return onHandle || (modifiers & Qt::ControlModifier) ? kInside : kNoEdge;
}

void AreaPickMap::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  const QPointF world = WorldAt(at);
  if (gesture_ == Gesture::kNone) {
    MapWidget::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton) ShowCursorFor(at);
    return;
  }
  emit hovered(world.x(), world.y());
  // A press that stays within a few pixels is a click, which changes nothing.
  if (!moved_ && (at - pressAt_).manhattanLength() > kDragSlop) {
    moved_ = true;
    if (gesture_ == Gesture::kEdges) rect_ = rectAtPress_;
  }
  if (!moved_) return;
  switch (gesture_) {
    case Gesture::kDraw: SetRectangle(Spanned(pressWorld_.x(), pressWorld_.y(), world.x(), world.y())); break;
    case Gesture::kEdges: SetRectangle(Dragged(*rect_, edges_, world.x(), world.y())); break;
    case Gesture::kMove:
      SetRectangle(RectOf(WorldCellsOf(MovedByTiles(rangeAtPress_, world.x() - pressWorld_.x(), world.y() - pressWorld_.y()))));
      break;
    case Gesture::kNone: break;
  }
}

void AreaPickMap::mouseReleaseEvent(QMouseEvent* event) {
  const Gesture gesture = std::exchange(gesture_, Gesture::kNone);
  if (gesture == Gesture::kNone) {
    MapWidget::mouseReleaseEvent(event);
  } else if (gesture == Gesture::kDraw && drawMode_ && moved_) {
    SetDrawMode(false);
    emit drawModeEnded();
  }
  ShowCursorFor(event->position());
}

// Home fits the rectangle when there is one. Esc leaves draw mode; otherwise it is the dialog's
// (which closes).
void AreaPickMap::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Home && Range()) {
    SetHome(WorldCellsOf(*Range()));
  } else if (event->key() != Qt::Key_Escape) {
    MapWidget::keyPressEvent(event);
  } else if (drawMode_) {
    SetDrawMode(false);
    emit drawModeEnded();
  } else {
    event->ignore();
  }
}

void AreaPickMap::ShowCursorFor(QPointF at) {
  if (drawMode_) {
    setCursor(Qt::CrossCursor);
    return;
  }
  setCursor(CursorFor(Range() ? GripAt(at, QApplication::keyboardModifiers()) : kNoEdge));
}

}  // namespace mapview
