// The area picker's window: the web map, the download zooms, go-to, the range's figures.
#include "ui/area_picker_dialog.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/Unitclasstask.h"
#include "engine/area_input.h"
#include "mapview/area_pick_map.h"
#include "mapview/piece_cache.h"
#include "mapview/piece_images.h"
#include "mapview/tile_survey.h"
#include "mapview/web_tile_source.h"
#include "platform/text_format.h"
#include "ui/message_box.h"

namespace {

constexpr size_t kImageBudgetBytes = 96u * 1024 * 1024;
constexpr int kLoaderThreads = 6;  // most of their time is spent waiting for turns and answers
constexpr int kDefaultZoom = 13;
constexpr int kRetryFailedMs = 15000;
constexpr int kMinimumWidth = 720, kMinimumHeight = 560;

QImage DecodedTile(const std::optional<std::string>& bytes) {
  return bytes ? mapview::DecodeTileBytes(*bytes, mapview::kTilePixels) : QImage();
}

mapview::WorldRect RectOf(const mapview::CellRect& cells) {
  return {static_cast<double>(cells.x0), static_cast<double>(cells.y0), static_cast<double>(cells.x1),
          static_cast<double>(cells.y1)};
}

std::unique_ptr<mapview::TileDiskCache> DiskCache(const std::string& folder) {
  if (folder.empty()) return nullptr;
  return std::make_unique<mapview::TileDiskCache>(folder, mapview::kDefaultTileCacheBytes);
}

}  // namespace

AreaPickerDialog::AreaPickerDialog(AreaPickerInputs inputs, QWidget* parent)
    : QDialog(parent), inputs_(std::move(inputs)) {
  setWindowTitle("Pick the area on the map");
  source_ = std::make_unique<mapview::WebTileSource>(inputs_.settings, inputs_.projects, inputs_.blankBytes,
                                                     DiskCache(inputs_.cacheFolder));
  // The loader runs on the image cache's threads; the cache is deleted (and its threads done)
  // before the source, in the destructor.
  pieces_ = new mapview::PieceCache(
      [this](const mapview::PieceKey& piece) {
        return DecodedTile(
            source_->Bytes(mapview::WebTileOf(piece), [this, piece] { return pieces_->StillWanted(piece); }));
      },
      kImageBudgetBytes);
  pieces_->SetThreadCount(kLoaderThreads);

  map_ = new mapview::AreaPickMap(this);
  map_->SetArea(mapview::WorldCells(), pieces_);
  BuildLayout();
  StartRetryingFailures();
  StartRectangleFromFields(inputs_.fields, inputs_.zoomTo);
  ShowPlace(-1, -1);
  resize(960, 720);
  // Room for the controls, the wrapped hint and the buttons beside a usable map.
  setMinimumSize(minimumSizeHint().expandedTo(QSize(kMinimumWidth, kMinimumHeight)));
}

AreaPickerDialog::~AreaPickerDialog() {
  stopSurvey_ = true;
  source_->Abort();
  surveys_.waitForDone();
  delete map_;
  delete pieces_;
}

void AreaPickerDialog::BuildLayout() {
  auto* column = new QVBoxLayout(this);
  column->addWidget(BuildControls());
  column->addWidget(map_, 1);
  auto* hint = new QLabel(
      "Drag to pan, wheel to zoom. Shift+drag or a right-button drag draws the area; drag its edges or corners "
      "to resize it, its middle handle (or Ctrl+drag inside it) to move it. Home brings the area into view.",
      this);
  hint->setObjectName("pickHint");
  hint->setWordWrap(true);
  column->addWidget(hint);
  rangeText_ = new QLabel(this);
  rangeText_->setObjectName("rangeFigures");
  rangeText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  column->addWidget(rangeText_);
  auto* bottom = new QHBoxLayout;
  placeText_ = new QLabel(this);
  // A long failure message is cut off rather than widening the dialog; its tooltip holds it all.
  placeText_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  bottom->addWidget(placeText_, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  bottom->addWidget(buttons);
  column->addLayout(bottom);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(map_, &mapview::AreaPickMap::rectangleChanged, this, &AreaPickerDialog::ShowRange);
  connect(map_, &mapview::MapWidget::hovered, this, &AreaPickerDialog::ShowPlace);
  connect(pieces_, &mapview::PieceCache::arrived, this, [this] { ShowPlace(-1, -1); });
}

// Tiles that failed are asked for again now and then, so the map fills in when the server can be
// reached again; nothing is asked while nothing fails.
void AreaPickerDialog::StartRetryingFailures() {
  auto* retry = new QTimer(this);
  retry->start(kRetryFailedMs);
  connect(retry, &QTimer::timeout, this, [this] {
    if (source_->Failures() == failuresRetried_) return;
    failuresRetried_ = source_->Failures();
    pieces_->ForgetEmpty();
    map_->update();
  });
}

QWidget* AreaPickerDialog::BuildControls() {
  auto* controls = new QWidget(this);
  auto* row = new QHBoxLayout(controls);
  row->setContentsMargins(0, 0, 0, 0);
  // No zoom beyond what the tile server serves: Start would refuse it.
  const int highest = std::clamp(inputs_.settings.maxZoom, 1, mapview::kWorldZoom);
  row->addWidget(new QLabel("Download zoom:", controls));
  zoom_ = new QSpinBox(controls);
  zoom_->setObjectName("zoom");
  zoom_->setRange(1, highest);
  zoom_->setValue(kDefaultZoom);
  row->addWidget(zoom_);
  row->addWidget(new QLabel("to", controls));
  zoomTo_ = new QSpinBox(controls);
  zoomTo_->setObjectName("zoomTo");
  zoomTo_->setRange(zoom_->value(), highest);
  zoomTo_->setToolTip("The last zoom level: above the first, every level between is downloaded too; the map shows "
                      "the tiles of the last");
  row->addWidget(zoomTo_);
  if (highest < mapview::kWorldZoom) {
    zoom_->setToolTip(QString("The tile server serves zoom levels up to %1").arg(highest));
  }
  draw_ = new QPushButton("Draw area", controls);
  draw_->setCheckable(true);
  draw_->setToolTip("Drag on the map to draw the area (Shift+drag or a right-button drag draw it at any time)");
  row->addWidget(draw_);
  overlay_ = new QCheckBox("Show downloaded projects", controls);
  overlay_->setToolTip("Outlines the projects of this zoom and tints the tiles they hold");
  row->addWidget(overlay_);
  row->addStretch(1);
  row->addWidget(new QLabel("Go to longitude:", controls));
  goLongitude_ = new QLineEdit(controls);
  goLongitude_->setObjectName("goLongitude");
  goLongitude_->setFixedWidth(90);
  row->addWidget(goLongitude_);
  row->addWidget(new QLabel("latitude:", controls));
  goLatitude_ = new QLineEdit(controls);
  goLatitude_->setObjectName("goLatitude");
  goLatitude_->setFixedWidth(90);
  row->addWidget(goLatitude_);
  auto* go = new QPushButton("Go", controls);
  row->addWidget(go);

  connect(zoom_, &QSpinBox::valueChanged, this, &AreaPickerDialog::ZoomChanged);
  connect(zoomTo_, &QSpinBox::valueChanged, this, &AreaPickerDialog::ZoomsChanged);
  connect(draw_, &QPushButton::toggled, map_, &mapview::AreaPickMap::SetDrawMode);
  connect(map_, &mapview::AreaPickMap::drawModeEnded, draw_, [this] { draw_->setChecked(false); });
  connect(overlay_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) SurveyProjects();
    map_->ShowOverlays(on);
  });
  connect(go, &QPushButton::clicked, this, &AreaPickerDialog::GoTo);
  for (QLineEdit* edit : {goLongitude_, goLatitude_}) connect(edit, &QLineEdit::returnPressed, this, &AreaPickerDialog::GoTo);
  return controls;
}

// Fields that describe an area give the first rectangle, at the finest of their zoom levels, and
// the view shows it; otherwise the whole world is in view and the rectangle is still to be drawn.
void AreaPickerDialog::StartRectangleFromFields(const AreaTexts& fields, const std::string& zoomTo) {
  // The zoom field is taken alone too; one the picker cannot show (a project's may lie outside
  // 1 to 19) leaves the default. A zoom beyond the server's highest is brought down to it.
  const std::optional<int32_t> typedZoom = qm::IntegerFromText(fields.zoom);
  const bool zoomUsable = typedZoom && *typedZoom >= 1 && *typedZoom <= mapview::kWorldZoom;
  const int first = zoomUsable ? *typedZoom : kDefaultZoom;
  const std::optional<int32_t> typedLast = qm::IntegerFromText(zoomTo);
  const bool lastUsable = zoomUsable && typedLast && *typedLast >= first && *typedLast <= mapview::kWorldZoom;
  {
    const QSignalBlocker quietFirst(zoom_), quietLast(zoomTo_);
    zoom_->setValue(first);
    zoomTo_->setMinimum(zoom_->value());
    zoomTo_->setValue(lastUsable ? *typedLast : first);
  }
  zoomShown_ = zoom_->value();
  map_->SetDownloadZoom(zoomTo_->value());
  if (zoomUsable) fieldsRect_ = FieldsRectangleAt(zoomTo_->value());
  if (fieldsRect_) {
    map_->SetRectangle(fieldsRect_);
    map_->SetHome(WorldCellsOf(*map_->Range()));
  }
  ShowRange();
}

std::optional<mapview::WorldRect> AreaPickerDialog::FieldsRectangleAt(int zoom) const {
  const AreaTexts& f = inputs_.fields;
  const AreaEstimateOrReason area = EstimateArea(f.left, f.right, f.top, f.bottom, std::to_string(zoom));
  if (!area.estimate) return std::nullopt;
  const mapview::TileRange range{zoom, area.estimate->minX, area.estimate->minY, area.estimate->maxX,
                                 area.estimate->maxY};
  return RectOf(mapview::WorldCellsOf(range));
}

// The last level follows the first while they are equal, and never stays below it.
void AreaPickerDialog::ZoomChanged(int zoom) {
  const bool following = zoomTo_->value() == zoomShown_;
  zoomTo_->setMinimum(zoom);
  if (following) zoomTo_->setValue(zoom);
  zoomShown_ = zoom;
  ZoomsChanged();
}

// The map shows the finest level. The fields' rectangle is taken again at that zoom, so its edges
// are those the fields give there and not the tile edges of the zoom before.
void AreaPickerDialog::ZoomsChanged() {
  const int finest = zoomTo_->value();
  if (fieldsRect_ && map_->Rectangle() == fieldsRect_) {
    fieldsRect_ = FieldsRectangleAt(finest);
    map_->SetRectangle(fieldsRect_);
  } else {
    fieldsRect_.reset();
  }
  map_->SetDownloadZoom(finest);
}

void AreaPickerDialog::SetArea(std::shared_ptr<const TaskArea> area, const std::vector<AreaRing>& outline) {
  map_->SetTaskArea(area, outline);
  area_ = std::move(area);
  ShowRange();
}

std::optional<AreaTexts> AreaPickerDialog::Texts() const {
  const std::optional<mapview::TileRange> range = map_->Range();
  if (!range) return std::nullopt;
  if (fieldsRect_ && map_->Rectangle() == fieldsRect_) {
    AreaTexts texts = inputs_.fields;
    texts.zoom = std::to_string(range->zoom);
    return texts;
  }
  return TextsForTiles(range->zoom, range->minX, range->minY, range->maxX, range->maxY);
}

ZoomRange AreaPickerDialog::Zooms() const { return {zoom_->value(), zoomTo_->value()}; }

// The figures of the range as Start will see them: they come from the very texts OK hands over,
// over every level, narrowed to the area in use.
void AreaPickerDialog::ShowRange() {
  const std::optional<AreaTexts> texts = Texts();
  ok_->setEnabled(texts.has_value());
  if (!texts) {
    rangeText_->setText("Draw the area to download: Shift+drag or a right-button drag on the map, or \"Draw area\".");
    return;
  }
  const LevelEstimates estimates =
      EstimateLevels(texts->left, texts->right, texts->top, texts->bottom, Zooms(), area_.get());
  const std::vector<AreaEstimate>& levels = estimates.levels;
  const auto largest = std::max_element(levels.begin(), levels.end(),
                                        [](const AreaEstimate& a, const AreaEstimate& b) { return a.tiles < b.tiles; });
  // An area Start would refuse cannot be handed over.
  const bool tooLarge = largest != levels.end() && largest->tiles > kMaxTaskTiles;
  ok_->setEnabled(!levels.empty() && !tooLarge);
  std::string text;
  if (levels.empty()) {
    text = estimates.reason;
  } else if (tooLarge) {
    text = TooManyTilesText(largest->tiles);
  } else if (levels.size() == 1) {
    text = FiguresWithAreaCut(levels, EstimateText(levels.front()));
  } else {
    const AreaEstimate& shown = levels.back();
    text = FiguresWithAreaCut(levels, LevelsTotalText(levels) + " · zoom " + texts->zoom + " on the map: " +
                                          GroupedCount(shown.tiles) + (shown.tiles == 1 ? " tile" : " tiles"));
  }
  rangeText_->setText(QString::fromStdString(text));
}

// The place under the pointer (kept when called without one), and what browsing has asked of the
// tile server.
void AreaPickerDialog::ShowPlace(double worldX, double worldY) {
  if (worldX >= 0 && worldY >= 0) {
    const int zoom = map_->DownloadZoom();
    const int shift = mapview::kWorldZoom - zoom;
    place_ = QString("%1, %2 · tile %3, %4 at zoom %5 · ")
                .arg(mapview::LongitudeOf(worldX), 0, 'f', 5)
                .arg(mapview::LatitudeOf(worldY), 0, 'f', 5)
                .arg(static_cast<qint64>(std::floor(worldX)) >> shift)
                .arg(static_cast<qint64>(std::floor(worldY)) >> shift)
                .arg(zoom);
  }
  if (const auto& problem = source_->ServerProblem()) {
    placeText_->setText(place_ + "The tile server is not asked: " + QString::fromStdString(*problem));
    return;
  }
  const auto requests = source_->Requests();
  QString asked = QString(requests == 1 ? "%1 tile asked of the server" : "%1 tiles asked of the server").arg(requests);
  if (source_->Failures() > 0) {
    const QString failure = QString::fromStdString(source_->LastFailure()).simplified();  // one line
    asked += QString(", %1 failed (%2)").arg(source_->Failures()).arg(failure);
  }
  placeText_->setText(place_ + asked);
  placeText_->setToolTip(asked);
}

// Enter in a go-to field goes there; it does not also press OK.
void AreaPickerDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (focusWidget() == goLongitude_ || focusWidget() == goLatitude_)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void AreaPickerDialog::GoTo() {
  const std::optional<double> lon = CoordinateFromText(goLongitude_->text().toStdString());
  const std::optional<double> lat = CoordinateFromText(goLatitude_->text().toStdString());
  if (!lon || !lat || std::abs(*lon) > 180 || std::abs(*lat) > 85) {
    qm::ShowMessage(QString("Go to takes a longitude from -180 to 180 and a latitude from -85 to 85, in decimal degrees."));
    return;
  }
  mapview::Viewport view = map_->View();
  view.centerX = mapview::WorldXOf(*lon);
  view.centerY = mapview::WorldYOf(*lat);
  // The download zoom's tiles at their own size.
  view.pixelsPerTile = std::ldexp(static_cast<double>(mapview::kTilePixels), map_->DownloadZoom() - mapview::kWorldZoom);
  map_->MoveTo(view);
}

// The overlay lists each project's folder once, on threads of its own.
void AreaPickerDialog::SurveyProjects() {
  if (!overlays_.empty() || inputs_.projects.empty()) return;
  for (const ProjectArea& project : inputs_.projects) overlays_.push_back({project, nullptr});
  map_->SetOverlays(overlays_);
  for (size_t i = 0; i < overlays_.size(); ++i) {
    const ProjectArea& area = overlays_[i].area;
    if (area.Tiles() > mapview::kMaxSurveyTiles) continue;
    surveys_.start([this, i, area] {
      std::shared_ptr<mapview::TileStateGrid> grid;
      try {
        grid = std::make_shared<mapview::TileStateGrid>(mapview::AreaCells(area));
        const bool listed = mapview::SurveyTileFolder(area, inputs_.blankBytes, stopSurvey_,
                                                      [&grid](std::vector<mapview::TileFile>&& files) {
          for (const mapview::TileFile& file : files) grid->SetFile(file.x, file.y, file.state);
        });
        if (!listed) return;
      } catch (const std::exception&) {
        return;  // out of memory: the project is outlined without its tiles
      }
      grid->MarkUnseenMissing();
      QMetaObject::invokeMethod(this, [this, i, grid] {
        overlays_[i].tiles = grid;
        map_->SetOverlays(overlays_);
      }, Qt::QueuedConnection);
    });
  }
}
