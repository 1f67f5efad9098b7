// Painting and input of the map view.
#include "mapview/map_widget.h"

#include <cmath>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "mapview/overview_plan.h"
#include "mapview/piece_cache.h"
#include "mapview/piece_images.h"

namespace mapview {

namespace {

const QColor kOutside(32, 36, 40);
constexpr double kClickSlop = 4;  // pixels a press may move and still be a click
constexpr double kMinHatchedTile = 10;  // tiles smaller than this many pixels show the colour alone

// Edges rounded to whole pixels, so that neighbouring images meet without a seam of background
// between them when the scale puts their common edge inside a pixel.
QRect Snapped(const QRectF& rect) {
  const auto edge = [](double v) { return static_cast<int>(std::lround(v)); };
  return QRect(QPoint(edge(rect.left()), edge(rect.top())), QPoint(edge(rect.right()) - 1, edge(rect.bottom()) - 1));
}

}  // namespace

QImage CellImage(const CellRect& cells, const QRectF& screen, const std::function<QRgb(int64_t, int64_t)>& colourOf) {
  const bool perCell = screen.width() >= static_cast<double>(cells.x1 - cells.x0);
  const int w = perCell ? static_cast<int>(cells.x1 - cells.x0) : std::max(1, static_cast<int>(std::ceil(screen.width())));
  const int h = perCell ? static_cast<int>(cells.y1 - cells.y0) : std::max(1, static_cast<int>(std::ceil(screen.height())));
  QImage image(w, h, QImage::Format_ARGB32);
  const auto cellAt = [perCell](int64_t first, int64_t count, int pixel, int pixels) {
    return perCell ? first + pixel : std::min(first + count - 1, first + static_cast<int64_t>((pixel + 0.5) * count / pixels));
  };
  for (int row = 0; row < h; ++row) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(row));
    const int64_t y = cellAt(cells.y0, cells.y1 - cells.y0, row, h);
    for (int column = 0; column < w; ++column) line[column] = colourOf(cellAt(cells.x0, cells.x1 - cells.x0, column, w), y);
  }
  return image;
}

QBrush DamagedHatch() { return QBrush(QColor(255, 50, 50), Qt::DiagCrossPattern); }

QColor StateColour(TileState state) {
  switch (state) {
    case TileState::kBlank: return {70, 130, 230, 150};
    case TileState::kMissing: return {240, 170, 30, 170};
    case TileState::kFailed: return {225, 40, 40, 200};
    case TileState::kUnknown: return {128, 128, 128, 70};
    case TileState::kDamaged: return {190, 20, 120, 150};
    default: return {0, 0, 0, 0};  // stored, or outside a shaped area
  }
}

MapWidget::MapWidget(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(320, 240);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void MapWidget::SetArea(const CellRect& area, PieceCache* cache) {
  area_ = area;
  cache_ = cache;
  if (cache_) connect(cache_, &PieceCache::arrived, this, qOverload<>(&QWidget::update), Qt::UniqueConnection);
  FitArea();
}

void MapWidget::ReplaceArea(const CellRect& area, PieceCache* cache, const Viewport& view) {
  area_ = area;
  cache_ = cache;
  if (cache_) connect(cache_, &PieceCache::arrived, this, qOverload<>(&QWidget::update), Qt::UniqueConnection);
  lastClickedTile_.reset();
  SetView(view);
}

void MapWidget::UseWebTilePyramid() {
  firstPieceLevel_ = 0;
  coarserForMissing_ = true;
  update();
}

void MapWidget::SetStates(TileStateGrid* states) {
  states_ = states;
  StatesChanged();
}

void MapWidget::StatesChanged() {
  marksStale_ = true;
  update();
}

void MapWidget::SetOutline(const std::vector<PointRing>& rings) {
  outline_ = QPainterPath();
  for (const PointRing& ring : rings) {
    if (ring.empty()) continue;
    outline_.moveTo(ring.front().first, ring.front().second);
    for (size_t i = 1; i < ring.size(); ++i) outline_.lineTo(ring[i].first, ring[i].second);
  }
  update();
}

void MapWidget::SetHome(const CellRect& home) {
  home_ = home;
  FitArea();
}

void MapWidget::FitArea() {
  SetView(mapview::FitArea(home_.value_or(area_), width(), height()));
  userMoved_ = false;
}

void MapWidget::ZoomBy(double factor) { MoveTo(ZoomedAbout(view_, area_, factor, width() / 2.0, height() / 2.0)); }

void MapWidget::MoveTo(const Viewport& view) {
  userMoved_ = true;
  SetView(view);
}

void MapWidget::SetView(const Viewport& view) {
  view_ = view;
  marksStale_ = true;
  update();
  emit viewChanged();
}

QRectF MapWidget::ScreenRectOf(const CellRect& tiles) const {
  return QRectF(QPointF(view_.ScreenX(tiles.x0), view_.ScreenY(tiles.y0)),
                QPointF(view_.ScreenX(tiles.x1), view_.ScreenY(tiles.y1)));
}

void MapWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kOutside);
  if (area_.Empty()) return;
  const bool complete = DrawImages(painter);
  DrawMarks(painter);
  DrawOutline(painter);
  painter.setPen(QPen(QColor(255, 255, 255, 160), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(ScreenRectOf(area_));
  if (drag_ == Drag::kSelect && moved_) {
    painter.setPen(QPen(kSelectedColour, 2, Qt::DashLine));
    painter.drawRect(ScreenRectOf(TilesBetween(pressAt_, lastAt_)));
  }
  DrawOverlay(painter);
  emit painted(complete);
}

// The source rectangle, in a piece's pixels, of the tiles it covers.
static QRectF SourceRect(const PieceKey& piece, const CellRect& tiles, int firstPieceLevel) {
  const bool single = piece.level < firstPieceLevel;
  const double perTile = kTilePixels / std::ldexp(1.0, single ? 0 : piece.level);
  const double x0 = single ? piece.x : piece.x * std::ldexp(1.0, piece.level);
  const double y0 = single ? piece.y : piece.y * std::ldexp(1.0, piece.level);
  return QRectF((tiles.x0 - x0) * perTile, (tiles.y0 - y0) * perTile, (tiles.x1 - tiles.x0) * perTile,
                (tiles.y1 - tiles.y0) * perTile);
}

bool MapWidget::DrawImages(QPainter& painter) {
  bool complete = true;
  const std::vector<PieceKey> images = ImagesInView(view_, area_, firstPieceLevel_);
  if (cache_ && coarserForMissing_ && !images.empty()) {
    std::vector<PieceKey> wanted = StandInsInView(view_, area_, images.front().level);
    wanted.insert(wanted.end(), images.begin(), images.end());
    cache_->Want(wanted);
  } else if (cache_) {
    cache_->Want(images);
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform, view_.pixelsPerTile < kTilePixels);
  for (const PieceKey& image : images) {
    const CellRect tiles = TilesOfImage(image, area_, firstPieceLevel_);
    const QImage* loaded = cache_ ? cache_->Find(image) : nullptr;
    if (loaded && !loaded->isNull()) {
      const QRectF whole(0, 0, loaded->width(), loaded->height());
      painter.drawImage(Snapped(ScreenRectOf(tiles)), *loaded,
                        image.level < firstPieceLevel_ ? whole : SourceRect(image, tiles, firstPieceLevel_));
    } else if ((loaded && !coarserForMissing_) || !DrawFromCoarser(painter, image)) {
      painter.fillRect(Snapped(ScreenRectOf(tiles)), kNoTileColour);
    }
    complete = complete && loaded;
  }
  return complete;
}

// While an image loads, the part of a coarser one already in memory stands in for it.
bool MapWidget::DrawFromCoarser(QPainter& painter, const PieceKey& image) {
  const CellRect tiles = TilesOfImage(image, area_, firstPieceLevel_);
  for (auto coarser = CoarserImage(image, area_, firstPieceLevel_); coarser;
       coarser = CoarserImage(*coarser, area_, firstPieceLevel_)) {
    const QImage* loaded = cache_->Find(*coarser);
    if (!loaded || loaded->isNull()) continue;
    painter.drawImage(Snapped(ScreenRectOf(tiles)), *loaded, SourceRect(*coarser, tiles, firstPieceLevel_));
    return true;
  }
  return false;
}

void MapWidget::DrawMarks(QPainter& painter) {
  if (!states_) return;
  CellRect covered;
  const QImage& marks = Marks(covered);
  if (marks.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(ScreenRectOf(covered), marks);
  if (view_.pixelsPerTile >= kMinHatchedTile) DrawDamagedHatch(painter, covered);
}

// Damaged tiles are told from failed ones by a cross hatch as well as their colour, once tiles
// are large enough on screen for it to show.
void MapWidget::DrawDamagedHatch(QPainter& painter, const CellRect& tiles) {
  if (states_->Count(TileState::kDamaged) == 0) return;
  const QBrush hatch = DamagedHatch();
  for (int64_t y = tiles.y0; y < tiles.y1; ++y) {
    for (int64_t x = tiles.x0; x < tiles.x1; ++x) {
      if (states_->At(x, y) == TileState::kDamaged) painter.fillRect(ScreenRectOf({x, y, x + 1, y + 1}), hatch);
    }
  }
}

// One pixel a tile in view, or one a screen pixel when tiles are smaller than pixels.
const QImage& MapWidget::Marks(CellRect& covered) {
  const CellRect seen{static_cast<int64_t>(std::floor(view_.TileX(0))), static_cast<int64_t>(std::floor(view_.TileY(0))),
                      static_cast<int64_t>(std::floor(view_.TileX(width()))) + 1,
                      static_cast<int64_t>(std::floor(view_.TileY(height()))) + 1};
  const CellRect tiles = Intersection(seen, area_);
  covered = tiles;
  if (!marksStale_ && tiles == marksTiles_) return marks_;
  marksTiles_ = tiles;
  marksStale_ = false;
  if (tiles.Empty()) return marks_ = QImage();
  QRgb colours[kTileStateCount];
  for (int s = 0; s < kTileStateCount; ++s) colours[s] = StateColour(static_cast<TileState>(s)).rgba();
  marks_ = CellImage(tiles, ScreenRectOf(tiles), [this, &colours](int64_t x, int64_t y) {
    return states_->Selected(x, y) ? kSelectedColour.rgba() : colours[static_cast<int>(states_->At(x, y))];
  });
  return marks_;
}

// A dark line under a light one, so the outline shows over imagery of any colour.
void MapWidget::DrawOutline(QPainter& painter) {
  if (outline_.isEmpty()) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setTransform(QTransform(view_.pixelsPerTile, 0, 0, view_.pixelsPerTile, view_.ScreenX(0), view_.ScreenY(0)));
  painter.setBrush(Qt::NoBrush);
  QPen under(QColor(0, 0, 0, 150), 3);
  under.setCosmetic(true);
  painter.strokePath(outline_, under);
  QPen over(QColor(255, 235, 60), 1.5);
  over.setCosmetic(true);
  painter.strokePath(outline_, over);
  painter.restore();
}

CellRect MapWidget::TilesBetween(QPointF a, QPointF b) const {
  const auto tx = [this](double s) { return static_cast<int64_t>(std::floor(view_.TileX(s))); };
  const auto ty = [this](double s) { return static_cast<int64_t>(std::floor(view_.TileY(s))); };
  return Intersection({std::min(tx(a.x()), tx(b.x())), std::min(ty(a.y()), ty(b.y())),
                       std::max(tx(a.x()), tx(b.x())) + 1, std::max(ty(a.y()), ty(b.y())) + 1},
                      area_);
}

void MapWidget::resizeEvent(QResizeEvent*) {
  if (!userMoved_) {
    FitArea();
    return;
  }
  view_.width = std::max(width(), 1);
  view_.height = std::max(height(), 1);
  SetView(view_);
}

void MapWidget::mousePressEvent(QMouseEvent* event) {
  const bool select = event->button() == Qt::RightButton ||
                      (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
  if (event->button() != Qt::LeftButton && !select) return;
  drag_ = select ? Drag::kSelect : Drag::kPan;
  lastClickedTile_.reset();
  pressAt_ = lastAt_ = event->position();
  moved_ = false;
  if (drag_ == Drag::kPan) setCursor(Qt::ClosedHandCursor);
}

void MapWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  emit hovered(view_.TileX(at.x()), view_.TileY(at.y()));
  if (drag_ == Drag::kNone) return;
  if ((at - pressAt_).manhattanLength() > kClickSlop) moved_ = true;
  if (drag_ == Drag::kPan && moved_) MoveTo(Panned(view_, area_, at.x() - lastAt_.x(), at.y() - lastAt_.y()));
  if (drag_ == Drag::kSelect) update();
  lastAt_ = at;
}

void MapWidget::mouseReleaseEvent(QMouseEvent* event) {
  const Drag drag = std::exchange(drag_, Drag::kNone);
  unsetCursor();
  if (drag == Drag::kNone || !states_) return;
  const CellRect tiles = TilesBetween(pressAt_, event->position());
  if (drag == Drag::kSelect && moved_) {
    states_->SelectIn(tiles);
  } else if (!moved_ && !tiles.Empty()) {
    states_->Toggle(tiles.x0, tiles.y0);
    lastClickedTile_ = std::pair{tiles.x0, tiles.y0};
  } else {
    update();
    return;
  }
  StatesChanged();
  emit selectionChanged();
}

// A double-click zooms in; the click before it toggled a tile, which is put back.
void MapWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (states_ && lastClickedTile_) {
    states_->Toggle(lastClickedTile_->first, lastClickedTile_->second);
    lastClickedTile_.reset();
    StatesChanged();
    emit selectionChanged();
  }
  MoveTo(ZoomedAbout(view_, area_, 2, event->position().x(), event->position().y()));
}

void MapWidget::wheelEvent(QWheelEvent* event) {
  const double factor = std::pow(2.0, event->angleDelta().y() / 240.0);  // a notch zooms by √2
  MoveTo(ZoomedAbout(view_, area_, factor, event->position().x(), event->position().y()));
}

void MapWidget::keyPressEvent(QKeyEvent* event) {
  const double stepX = width() / 4.0, stepY = height() / 4.0;
  switch (event->key()) {
    case Qt::Key_Left: MoveTo(Panned(view_, area_, stepX, 0)); break;
    case Qt::Key_Right: MoveTo(Panned(view_, area_, -stepX, 0)); break;
    case Qt::Key_Up: MoveTo(Panned(view_, area_, 0, stepY)); break;
    case Qt::Key_Down: MoveTo(Panned(view_, area_, 0, -stepY)); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomBy(2); break;
    case Qt::Key_Minus: ZoomBy(0.5); break;
    case Qt::Key_Home: FitArea(); break;
    case Qt::Key_Escape:
      if (states_ && states_->SelectedCount() > 0) {
        states_->ClearSelection();
        StatesChanged();
        emit selectionChanged();
      }
      break;
    default: QWidget::keyPressEvent(event);
  }
}

void MapWidget::leaveEvent(QEvent*) { emit hoverLeft(); }

}  // namespace mapview
