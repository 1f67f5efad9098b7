// The area picker's window: the web map, the download zoom, go-to, the range's figures.
#include "ui/area_picker_dialog.h"

#include <cmath>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
  StartRectangleFromFields(inputs_.fields);
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
  row->addWidget(new QLabel("Download zoom:", controls));
  zoom_ = new QSpinBox(controls);
  zoom_->setRange(1, mapview::kWorldZoom);
  zoom_->setValue(kDefaultZoom);
  row->addWidget(zoom_);
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

  connect(zoom_, &QSpinBox::valueChanged, map_, &mapview::AreaPickMap::SetDownloadZoom);
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

// Fields that describe an area give the first rectangle, and the view shows it; otherwise the
// whole world is in view and the rectangle is still to be drawn.
void AreaPickerDialog::StartRectangleFromFields(const AreaTexts& fields) {
  // The zoom field is taken alone too; one the picker cannot show (a project's may lie outside
  // 1 to 19) leaves the default.
  const std::optional<int32_t> typedZoom = qm::IntegerFromText(fields.zoom);
  const bool zoomUsable = typedZoom && *typedZoom >= 1 && *typedZoom <= mapview::kWorldZoom;
  const int zoom = zoomUsable ? *typedZoom : kDefaultZoom;
  zoom_->setValue(zoom);
  map_->SetDownloadZoom(zoom);
  const AreaEstimateOrReason area = EstimateArea(fields.left, fields.right, fields.top, fields.bottom, fields.zoom);
  if (zoomUsable && area.estimate) {
    const mapview::TileRange range{zoom, area.estimate->minX, area.estimate->minY, area.estimate->maxX,
                                   area.estimate->maxY};
    const mapview::CellRect cells = mapview::WorldCellsOf(range);
    map_->SetRectangle(mapview::WorldRect{static_cast<double>(cells.x0), static_cast<double>(cells.y0),
                                          static_cast<double>(cells.x1), static_cast<double>(cells.y1)});
    map_->SetHome(cells);
  }
  ShowRange();
}

void AreaPickerDialog::SetArea(std::shared_ptr<const TaskArea> area, const std::vector<AreaRing>& outline) {
  map_->SetTaskArea(area, outline);
  area_ = std::move(area);
  ShowRange();
}

std::optional<AreaTexts> AreaPickerDialog::Texts() const {
  const std::optional<mapview::TileRange> range = map_->Range();
  if (!range) return std::nullopt;
  return TextsForTiles(range->zoom, range->minX, range->minY, range->maxX, range->maxY);
}

// The figures of the range as Start will see them: they come from the very texts OK hands over.
void AreaPickerDialog::ShowRange() {
  const std::optional<AreaTexts> texts = Texts();
  ok_->setEnabled(texts.has_value());
  if (!texts) {
    rangeText_->setText("Draw the area to download: Shift+drag or a right-button drag on the map, or \"Draw area\".");
    return;
  }
  AreaEstimateOrReason area = EstimateArea(texts->left, texts->right, texts->top, texts->bottom, texts->zoom);
  if (area.estimate && area_) {
    try {
      area.estimate = EstimateInArea(*area.estimate, *area_, *qm::IntegerFromText(texts->zoom));
    } catch (const TaskError& e) {
      area = {std::nullopt, e.what()};
    }
  }
  // An area Start would refuse cannot be handed over.
  const bool tooLarge = area.estimate && area.estimate->tiles > kMaxTaskTiles;
  ok_->setEnabled(area.estimate && !tooLarge);
  const std::string text = !area.estimate ? area.reason
                           : tooLarge     ? TooManyTilesText(area.estimate->tiles)
                                          : EstimateText(*area.estimate);
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
