// The map viewer's window.
#include "companions/mapviewer_window.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <variant>

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "companions/viewer_shape.h"
#include "engine/Commonfunc.h"
#include "engine/Unitclasstask.h"
#include "engine/level_set.h"
#include "engine/tile_source.h"
#include "mapview/area_pick.h"
#include "mapview/piece_images.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"
#include "platform/ini_file.h"

namespace {

constexpr int kSelectedRow = mapview::kTileStateCount;

struct LegendRow {
  mapview::TileState state;
  const char* name;
};
constexpr LegendRow kLegendRows[] = {{mapview::TileState::kPresent, "Stored"},
                                     {mapview::TileState::kBlank, "Blank (server had none)"},
                                     {mapview::TileState::kMissing, "Missing"},
                                     {mapview::TileState::kFailed, "Failed (in failed-tile list)"},
                                     {mapview::TileState::kDamaged, "Damaged (in verify list)"},
                                     {mapview::TileState::kUnknown, "Not surveyed yet"}};

constexpr int kSwatchSide = 14;

// A swatch looks as the mark does on the map: the mark's colour over what lies beneath it there,
// the blank tile's image under a blank mark and the empty background under the others. A stored
// tile carries no mark: its swatch is the colour of land imagery.
QPixmap Swatch(const QColor& colour, const QImage& beneath) {
  QPixmap swatch(kSwatchSide, kSwatchSide);
  if (colour.alpha() == 0) {
    swatch.fill(QColor(76, 110, 50));
    return swatch;
  }
  swatch.fill(mapview::kNoTileColour);
  QPainter painter(&swatch);
  if (!beneath.isNull()) painter.drawImage(swatch.rect(), beneath);
  painter.fillRect(swatch.rect(), colour);
  return swatch;
}

QPixmap DamagedSwatch() {
  QPixmap swatch = Swatch(mapview::StateColour(mapview::TileState::kDamaged), QImage());
  QPainter(&swatch).fillRect(swatch.rect(), mapview::DamagedHatch());
  return swatch;
}

QString Grouped(int64_t n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

}  // namespace

MapViewerWindow::MapViewerWindow(std::string programFolder, QWidget* parent)
    : QMainWindow(parent), programFolder_(std::move(programFolder)) {
  setWindowTitle("Map Viewer");
  setAcceptDrops(true);
  try {
    blankBytes_ = qm::ReadWholeFile(programFolder_ + "blankimg" + qm::kPathSeparator + "blank.jpg");
  } catch (const qm::FileError&) {
    blankBytes_.clear();  // without the blank tile, blank tiles count as stored
  }
  map_ = new mapview::MapWidget;
  auto* splitter = new QSplitter;
  splitter->addWidget(map_);
  splitter->addWidget(BuildLegend());
  splitter->setStretchFactor(0, 1);
  splitter->setChildrenCollapsible(false);  // the legend holds the fetch buttons
  setCentralWidget(splitter);
  hoverLabel_ = new QLabel("Open a project or a level set: File > Open, or drop a .qmtp or .qmset file here.");
  statusBar()->addWidget(hoverLabel_, 1);
  verifyResult_ = new QLabel;
  verifyResult_->setObjectName("verifyResult");
  statusBar()->addPermanentWidget(verifyResult_);
  BuildMenus();
  connect(map_, &mapview::MapWidget::hovered, this, &MapViewerWindow::ShowHover);
  connect(map_, &mapview::MapWidget::hoverLeft, this, [this] { hoverLabel_->clear(); });
  connect(map_, &mapview::MapWidget::selectionChanged, this, &MapViewerWindow::UpdateLegend);
  connect(map_, &mapview::MapWidget::viewChanged, this, &MapViewerWindow::ChooseLevel);
  connect(&fetch_, &FetchAgainRun::progressed, this, &MapViewerWindow::ShowFetchProgress);
  connect(&fetch_, &FetchAgainRun::ended, this, &MapViewerWindow::FetchEnded);
  connect(&verify_, &ViewerVerifyRun::progressed, this, &MapViewerWindow::ShowVerifyProgress);
  connect(&verify_, &ViewerVerifyRun::ended, this, &MapViewerWindow::VerifyEnded);
  legendTimer_ = new QTimer(this);
  connect(legendTimer_, &QTimer::timeout, this, &MapViewerWindow::UpdateLegend);
  connect(legendTimer_, &QTimer::timeout, this, &MapViewerWindow::ChooseLevel);  // as surveys tell more
  legendTimer_->start(500);
  resize(1100, 720);
  UpdateLegend();
  setMinimumSize(minimumSizeHint().expandedTo(QSize(640, 480)));
}

MapViewerWindow::~MapViewerWindow() = default;

void MapViewerWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", QKeySequence::Open, this, &MapViewerWindow::ChooseProject);
  file->addAction("&Reload", QKeySequence::Refresh, this, &MapViewerWindow::Reopen);
  file->addSeparator();
  file->addAction("&Quit", QKeySequence::Quit, this, &QWidget::close);
  QMenu* view = menuBar()->addMenu("&View");
  view->addAction("&Fit area", Qt::Key_Home, map_, &mapview::MapWidget::FitArea);
  view->addAction("Zoom &in", QKeySequence::ZoomIn, this, [this] { map_->ZoomBy(2); });
  view->addAction("Zoom &out", QKeySequence::ZoomOut, this, [this] { map_->ZoomBy(0.5); });
  QMenu* tiles = menuBar()->addMenu("&Tiles");
  verifyAction_ = tiles->addAction("&Verify tiles", this, &MapViewerWindow::StartVerify);
  selectListedAction_ = tiles->addAction("&Select the tiles the verify listed", this, &MapViewerWindow::SelectVerifyListed);
  fetchAction_ = tiles->addAction("&Fetch selected again", this, &MapViewerWindow::FetchSelected);
}

QWidget* MapViewerWindow::BuildLegend() {
  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  title_ = new QLabel;
  title_->setWordWrap(true);
  layout->addWidget(title_);
  pickerRow_ = new QWidget;
  auto* pickerLayout = new QHBoxLayout(pickerRow_);
  pickerLayout->setContentsMargins(0, 0, 0, 0);
  picker_ = new QComboBox;
  picker_->setObjectName("levelPicker");
  pickerLayout->addWidget(new QLabel("Level:"));
  pickerLayout->addWidget(picker_, 1);
  connect(picker_, &QComboBox::currentIndexChanged, this, &MapViewerWindow::ChooseLevel);
  pickerRow_->setVisible(false);
  layout->addWidget(pickerRow_);
  auto* grid = new QGridLayout;
  int row = 0;
  const QImage blankTile = mapview::DecodeTileBytes(blankBytes_, kSwatchSide);
  for (const LegendRow& entry : kLegendRows) {
    auto* swatch = new QLabel;
    swatch->setObjectName(QString("swatch%1").arg(static_cast<int>(entry.state)));
    swatch->setPixmap(entry.state == mapview::TileState::kDamaged
                          ? DamagedSwatch()
                          : Swatch(mapview::StateColour(entry.state),
                                   entry.state == mapview::TileState::kBlank ? blankTile : QImage()));
    grid->addWidget(swatch, row, 0);
    grid->addWidget(new QLabel(entry.name), row, 1);
    counts_[static_cast<int>(entry.state)] = new QLabel;
    grid->addWidget(counts_[static_cast<int>(entry.state)], row++, 2, Qt::AlignRight);
  }
  auto* swatch = new QLabel;
  swatch->setPixmap(Swatch(mapview::kSelectedColour, QImage()));
  grid->addWidget(swatch, row, 0);
  grid->addWidget(new QLabel("Selected to fetch"), row, 1);
  counts_[kSelectedRow] = new QLabel;
  grid->addWidget(counts_[kSelectedRow], row, 2, Qt::AlignRight);
  layout->addLayout(grid);
  auto* hint = new QLabel("Click a missing, failed or damaged tile, or Shift+drag a rectangle, to select it.");
  hint->setWordWrap(true);
  layout->addWidget(hint);
  fetchButton_ = new QPushButton("Fetch selected again");
  clearButton_ = new QPushButton("Clear selection");
  stopButton_ = new QPushButton("Stop fetching");
  connect(fetchButton_, &QPushButton::clicked, this, &MapViewerWindow::FetchSelected);
  connect(clearButton_, &QPushButton::clicked, this, [this] {
    if (session_ && session_->States()) session_->States()->ClearSelection();
    map_->StatesChanged();
    UpdateLegend();
  });
  connect(stopButton_, &QPushButton::clicked, &fetch_, &FetchAgainRun::Stop);
  layout->addWidget(fetchButton_);
  layout->addWidget(clearButton_);
  layout->addWidget(stopButton_);
  fetchBar_ = new QProgressBar;
  fetchBar_->setVisible(false);
  layout->addWidget(fetchBar_);
  progress_ = new QLabel;
  progress_->setWordWrap(true);
  layout->addWidget(progress_);
  verifyButton_ = new QPushButton("Verify tiles");
  verifyButton_->setToolTip("Decodes every stored tile and marks the damaged ones");
  selectListedButton_ = new QPushButton("Select the tiles the verify listed");
  cancelVerifyButton_ = new QPushButton("Cancel verify");
  connect(verifyButton_, &QPushButton::clicked, this, &MapViewerWindow::StartVerify);
  connect(selectListedButton_, &QPushButton::clicked, this, &MapViewerWindow::SelectVerifyListed);
  connect(cancelVerifyButton_, &QPushButton::clicked, &verify_, &ViewerVerifyRun::Stop);
  layout->addWidget(verifyButton_);
  layout->addWidget(selectListedButton_);
  layout->addWidget(cancelVerifyButton_);
  verifyBar_ = new QProgressBar;
  verifyBar_->setVisible(false);
  layout->addWidget(verifyBar_);
  layout->addStretch(1);
  panel->setMinimumWidth(260);
  panel->setMaximumWidth(340);
  return panel;
}

bool MapViewerWindow::OpenProject(const std::string& file) {
  if (QString::fromStdString(file).endsWith(".qmset", Qt::CaseInsensitive)) return OpenLevelSet(file);
  std::vector<mapview::SetLevel> project(1);
  try {
    project.front() = {file, ReadProjectArea(file)};
  } catch (const std::exception& e) {
    Warn(QString::fromStdString(e.what()));
    return false;
  }
  return OpenLevels(std::move(project), file, QString());
}

bool MapViewerWindow::OpenLevelSet(const std::string& setFile) {
  std::vector<mapview::SetLevel> levels;
  QString name;
  try {
    const std::variant<LevelSet, std::string> read = ReadLevelSet(setFile);
    if (const auto* reason = std::get_if<std::string>(&read)) throw ProjectAreaError(*reason);
    const LevelSet& set = std::get<LevelSet>(read);
    levels = mapview::SetLevels(set, setFile);
    name = QString::fromStdString(TaskStem(set.TaskName));
  } catch (const std::exception& e) {
    Warn(QString::fromStdString(e.what()));
    return false;
  }
  if (levels.size() < 2) name.clear();  // one level is shown as its project
  return OpenLevels(std::move(levels), setFile, name);
}

bool MapViewerWindow::OpenLevels(std::vector<mapview::SetLevel> levels, const std::string& file,
                                 const QString& setName) {
  std::unique_ptr<ViewerSession> coarsest;
  try {
    coarsest = std::make_unique<ViewerSession>(levels.front().projectFile, levels.front().area, blankBytes_);
  } catch (const std::exception& e) {
    Warn(QString::fromStdString(e.what()));
    return false;
  }
  if (!ApplyShape(*coarsest, levels.front(), file)) return false;
  fetch_.Stop();
  verify_.Stop();  // its end finds no level of its project and marks nothing
  map_->SetStates(nullptr);
  session_ = nullptr;
  levels_.clear();
  openedFile_ = file;
  for (mapview::SetLevel& place : levels) levels_.push_back({std::move(place), nullptr});
  levels_.front().session = std::move(coarsest);
  levels_.front().session->StartSurvey();
  setName_ = setName;
  progress_->clear();  // it told of the project left
  FillPicker();
  ShowLevel(0);
  ChooseLevel();
  hoverLabel_->clear();
  return true;
}

ViewerSession* MapViewerWindow::LevelSession(size_t index) {
  Level& level = levels_[index];
  if (level.session || level.refused) return level.session.get();
  try {
    auto session = std::make_unique<ViewerSession>(level.place.projectFile, level.place.area, blankBytes_);
    if (!ApplyShape(*session, level.place, openedFile_)) {
      level.refused = true;
      return nullptr;
    }
    level.session = std::move(session);
    level.session->StartSurvey();
  } catch (const std::exception& e) {
    level.refused = true;
    Warn(QString::fromStdString(e.what()));
  }
  return level.session.get();
}

// The map keeps its place and scale; the level left behind gives up its images.
void MapViewerWindow::ShowLevel(size_t index) {
  ViewerSession* next = LevelSession(index);
  if (!next || next == session_) return;
  const QScopedValueRollback guard(choosing_, true);
  ViewerSession* previous = std::exchange(session_, next);
  map_->SetStates(nullptr);
  if (previous) {
    disconnect(previous, nullptr, map_, nullptr);
    map_->ReplaceArea(next->Cells(), &next->Cache(),
                      mapview::ViewAtZoom(map_->View(), previous->Area().zoom, next->Area().zoom));
    previous->Cache().Clear();
  } else {
    map_->SetArea(next->Cells(), &next->Cache());
  }
  connect(next, &ViewerSession::statesChanged, map_, &mapview::MapWidget::StatesChanged);
  connect(next, &ViewerSession::imagesChanged, map_, qOverload<>(&QWidget::update));
  map_->SetStates(next->States());
  map_->SetOutline(mapview::RingsOnGrid(next->Outline(), next->Area().zoom));
  next->StartOverviews();
  hoverLabel_->clear();  // it named a tile of the level left
  ShowTitle();
  UpdateLegend();
}

// Levels are looked at from the finest the view's scale calls for down to the first that may hold
// every tile in view, so a finished set opens only the level it shows. A selection keeps its level.
void MapViewerWindow::ChooseLevel() {
  if (levels_.size() < 2 || !session_ || choosing_) return;
  if (picker_->currentIndex() > 0) {
    ShowLevel(static_cast<size_t>(picker_->currentIndex() - 1));
    return;
  }
  const mapview::Viewport view = map_->View();
  const int shownZoom = session_->Area().zoom;
  const bool selecting = session_->States() && session_->States()->SelectedCount() > 0;
  if (selecting || mapview::TilesInView(view, session_->Cells()).Empty()) return;
  const int natural = mapview::NaturalZoom(view, shownZoom);
  std::vector<mapview::LevelCoverage> coverage;
  std::vector<size_t> candidates;
  for (size_t i = levels_.size(); i-- > 0;) {
    const int zoom = levels_[i].place.area.zoom;
    ViewerSession* level = zoom <= natural || i == 0 ? LevelSession(i) : nullptr;
    if (!level) continue;
    const mapview::CellRect tiles = mapview::TilesInView(mapview::ViewAtZoom(view, shownZoom, zoom), level->Cells());
    coverage.push_back({zoom, mapview::StoredShare(level->States(), tiles)});
    candidates.push_back(i);
    if (coverage.back().share >= 1) break;
  }
  if (!candidates.empty()) ShowLevel(candidates[mapview::BestLevel(coverage)]);
}

void MapViewerWindow::FillPicker() {
  const QSignalBlocker block(picker_);
  picker_->clear();
  picker_->addItem("Finest with the tiles in view");
  for (size_t i = 0; i < levels_.size(); ++i) picker_->addItem(QString());
  NameLevels();
  pickerRow_->setVisible(levels_.size() > 1);
}

// Again as the levels' downloads start.
void MapViewerWindow::NameLevels() {
  for (size_t i = 0; i < levels_.size() && levels_.size() > 1; ++i) {
    const bool started = qm::FileExists(levels_[i].place.projectFile);
    picker_->setItemText(static_cast<int>(i) + 1, QString("Zoom %1%2").arg(levels_[i].place.area.zoom)
                                                      .arg(started ? "" : " (not started)"));
  }
}

void MapViewerWindow::ShowTitle() {
  const ProjectArea& area = session_->Area();
  const QString name = setName_.isEmpty() ? QString::fromStdString(area.name) : setName_;
  setWindowTitle(name + " - Map Viewer");
  const int first = levels_.front().place.area.zoom, last = levels_.back().place.area.zoom;
  const QString set = setName_.isEmpty() ? QString() : QString("level set of zoom %1–%2<br>shown: ").arg(first).arg(last);
  const std::optional<int64_t> inside = session_->TilesInside();
  title_->setText(QString("<b>%1</b><br>%2zoom %3, %4 × %5 tiles%6<br>columns %7–%8, rows %9–%10")
                      .arg(name, set).arg(area.zoom)
                      .arg(Grouped(area.Columns()), Grouped(area.Rows()),
                           inside ? QString(", %1 inside the area").arg(Grouped(*inside)) : QString())
                      .arg(area.minX).arg(area.maxX).arg(area.minY).arg(area.maxY));
}

void MapViewerWindow::OpenLastProject() {
  const qm::IniFile config(qm::ConfigFilePath(programFolder_));
  const std::string last = config.ReadString("IniParas", "LastProject", "");
  if (!last.empty() && qm::FileExists(last)) OpenProject(last);
}

void MapViewerWindow::ChooseProject() {
  const QString file = QFileDialog::getOpenFileName(this, "Open a project", QString::fromStdString(OpenFolder()),
                                                    "Projects and level sets (*.qmtp *.qmset);;All files (*)");
  if (!file.isEmpty()) OpenProject(file.toStdString());
}

// Where File > Open starts: the open project's folder, else the last project's, else the
// download folder of the settings.
std::string MapViewerWindow::OpenFolder() const {
  if (session_) return qm::ExtractFilePath(session_->ProjectFile());
  const qm::IniFile config(qm::ConfigFilePath(programFolder_));
  const std::string last = config.ReadString("IniParas", "LastProject", "");
  if (!last.empty() && qm::DirectoryExists(qm::ExtractFilePath(last))) return qm::ExtractFilePath(last);
  const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  return config.ReadString("IniParas", "DefaultPath", downloads.toStdString());
}

// Opens the same project or set again, keeping the level, the picker and the view, after the
// folder watch lost track.
void MapViewerWindow::Reopen() {
  if (!session_) return;
  const mapview::Viewport view = map_->View();
  const int zoom = session_->Area().zoom;
  const int picked = picker_->currentIndex();
  if (!OpenProject(openedFile_)) return;
  if (picked < picker_->count()) {
    const QSignalBlocker block(picker_);
    picker_->setCurrentIndex(picked);
  }
  for (size_t i = 0; i < levels_.size(); ++i) {
    if (levels_[i].place.area.zoom == zoom) ShowLevel(i);
  }
  map_->MoveTo(view);
}

void MapViewerWindow::UpdateLegend() {
  mapview::TileStateGrid* states = session_ ? session_->States() : nullptr;
  for (const LegendRow& entry : kLegendRows) {
    counts_[static_cast<int>(entry.state)]->setText(states ? Grouped(states->Count(entry.state)) : "–");
  }
  counts_[kSelectedRow]->setText(states ? Grouped(states->SelectedCount()) : "–");
  const bool fetching = fetch_.Running();
  const bool started = session_ && session_->Started();
  fetchButton_->setEnabled(states && states->SelectedCount() > 0 && !fetching && started);
  fetchAction_->setEnabled(fetchButton_->isEnabled());
  clearButton_->setEnabled(states && states->SelectedCount() > 0);
  stopButton_->setVisible(fetching);
  ShowVerifyState(states, started);
  if (!session_ || fetching) return;
  NameLevels();
  QStringList lines;
  if (!started) {
    lines << QString("The download of zoom %1 has not started: none of its tiles are stored.").arg(session_->Area().zoom);
  }
  if (!states) lines << "The area is too large to count its tiles; they are shown without marks.";
  if (!session_->Builder().Walks()) lines << "No overviews are made of so large an area: zoom in to see its tiles.";
  if (session_->Surveying()) lines << QString("Surveying the tile folder: %1 files").arg(Grouped(session_->FilesSurveyed()));
  const mapview::OverviewBuilder& builder = session_->Builder();
  if (!builder.WalkFinished()) {
    lines << QString("Overviews: %1 of %2 checked, %3 built")
                 .arg(Grouped(builder.PiecesDone()), Grouped(builder.PiecesTotal()), Grouped(builder.PiecesBuilt()));
  }
  if (!lines.isEmpty() || !progress_->text().startsWith("Fetched")) progress_->setText(lines.join("\n"));
}

void MapViewerWindow::ShowVerifyState(mapview::TileStateGrid* states, bool started) {
  const bool verifying = verify_.Running();
  verifyButton_->setEnabled(started && !verifying);
  verifyAction_->setEnabled(verifyButton_->isEnabled());
  selectListedButton_->setEnabled(states && states->VerifyOutstandingCount() > 0);
  selectListedAction_->setEnabled(selectListedButton_->isEnabled());
  cancelVerifyButton_->setVisible(verifying);
  if (!session_) {
    verifyResult_->clear();
  } else if (verifying && verify_.ProjectFile() == session_->ProjectFile()) {
    verifyResult_->setText(QString("Verifying zoom %1...").arg(session_->Area().zoom));
  } else {
    const QString text = VerifyStateText(session_->KeptVerifyReport(), session_->VerifyListFile(),
                                         states ? states->VerifyListedCount() : 0,
                                         states ? states->VerifyOutstandingCount() : 0);
    const bool named = levels_.size() > 1 && !text.isEmpty();
    verifyResult_->setText(named ? QString("Zoom %1: ").arg(session_->Area().zoom) + text : text);
  }
}

bool MapViewerWindow::IsOpen(const std::string& projectFile) const {
  return std::any_of(levels_.begin(), levels_.end(),
                     [&](const Level& level) { return level.place.projectFile == projectFile; });
}

QString MapViewerWindow::LegendText() const {
  QStringList parts;
  for (const LegendRow& entry : kLegendRows) parts << QString(entry.name) + ": " + counts_[static_cast<int>(entry.state)]->text();
  parts << "Selected: " + counts_[kSelectedRow]->text();
  return parts.join("; ");
}

void MapViewerWindow::ShowHover(double tileX, double tileY) {
  if (!session_) return;
  const ProjectArea& area = session_->Area();
  const auto zoom = static_cast<uint8_t>(area.zoom);
  QString text = QString("Longitude %1°, latitude %2°")
                     .arg(TileXToLon(tileX, zoom), 0, 'f', 6).arg(TileYToLat(tileY, zoom), 0, 'f', 6);
  const auto x = static_cast<int64_t>(std::floor(tileX)), y = static_cast<int64_t>(std::floor(tileY));
  if (area.Contains(x, y)) {
    static const char* kStateNames[] = {"not surveyed yet", "stored", "blank", "missing", "failed", "damaged",
                                        "outside the area"};
    text += QString("    column %1, row %2    %3").arg(x).arg(y)
                .arg(QString::fromStdString(SatelliteTileFileName(area.zoom, static_cast<int32_t>(x), static_cast<int32_t>(y))));
    if (mapview::TileStateGrid* states = session_->States()) {
      text += QString(" (%1)").arg(kStateNames[static_cast<int>(states->At(x, y))]);
    }
  }
  hoverLabel_->setText(text);
}

void MapViewerWindow::FetchSelected() {
  mapview::TileStateGrid* states = session_ ? session_->States() : nullptr;
  if (!states || states->SelectedCount() == 0 || fetch_.Running() || !session_->Started()) return;
  // The selection is taken first: watching a tile folder made here surveys it again.
  const std::vector<mapview::TileXY> tiles = states->SelectedTiles();
  try {
    const FetchSettings settings = ReadFetchSettings(qm::ConfigFilePath(programFolder_));
    const std::string listFile = mapview::OverviewFolderFor(session_->ProjectFile()) + "fetch_again.ftl";
    qm::CreateDirectory(mapview::OverviewFolderFor(session_->ProjectFile()));
    qm::CreateDirectory(session_->Area().tileFolder);
    session_->WatchTileFolder();
    fetch_.Start(session_->Area(), tiles, settings, listFile);
    fetchProject_ = session_->ProjectFile();
  } catch (const std::exception& e) {
    Warn(QString::fromStdString(e.what()));
    return;
  }
  const auto selected = static_cast<qint64>(tiles.size());
  states->ClearSelection();
  map_->StatesChanged();
  fetchBar_->setVisible(true);
  ShowFetchProgress(0, selected, 0);
  UpdateLegend();
}

void MapViewerWindow::ShowFetchProgress(qint64 done, qint64 total, qint64 failed) {
  if (!IsOpen(fetchProject_)) return;  // the last word of a fetch stopped when another project was opened
  fetchBar_->setRange(0, static_cast<int>(std::min<qint64>(total, INT_MAX)));
  fetchBar_->setValue(static_cast<int>(std::min<qint64>(done, INT_MAX)));
  progress_->setText(QString("Fetching: %1 of %2 tiles, %3 failed").arg(Grouped(done), Grouped(total), Grouped(failed)));
}

void MapViewerWindow::FetchEnded(const QString& summary) {
  fetchBar_->setVisible(false);
  if (IsOpen(fetchProject_)) progress_->setText(summary);
  UpdateLegend();
}

// A level whose area file is gone, unreadable or changed since its download is not shown: its
// tiles inside the area could no longer be told from those outside.
bool MapViewerWindow::ApplyShape(ViewerSession& session, const mapview::SetLevel& place, const std::string& openedFile) {
  try {
    if (const std::optional<ViewerShape> shape = ShapeOfLevel(place, openedFile)) {
      session.SetShape(shape->cover, shape->outline);
    }
    return true;
  } catch (const std::exception& e) {
    Warn(QString::fromStdString(e.what()));
    return false;
  }
}

// The project shown is verified; for a set, the level in view.
void MapViewerWindow::StartVerify() {
  if (!session_ || !session_->Started() || verify_.Running()) return;
  try {
    const FetchSettings settings = ReadFetchSettings(qm::ConfigFilePath(programFolder_));
    verify_.Start(session_->ProjectFile(), settings.tileServer);
  } catch (const std::exception& e) {
    Warn(QString::fromStdString(e.what()));
    return;
  }
  verifyBar_->setVisible(true);
  ShowVerifyProgress(0, session_->Area().Tiles());
  UpdateLegend();
}

void MapViewerWindow::ShowVerifyProgress(qint64 checked, qint64 total) {
  // Large counts are shown in thousands, as a progress bar holds an int.
  const int shift = total > INT_MAX ? 10 : 0;
  verifyBar_->setRange(0, static_cast<int>(total >> shift));
  verifyBar_->setValue(static_cast<int>(checked >> shift));
  verifyBar_->setFormat(QString("Verified %1 of %2").arg(Grouped(checked), Grouped(total)));
}

// The report is kept by the level it was made for, if that is still open; the line shows the
// report of the level in view.
void MapViewerWindow::VerifyEnded(const std::optional<VerifyReport>& report, const QString& failure) {
  verifyBar_->setVisible(false);
  for (Level& level : levels_) {
    if (!level.session || level.session->ProjectFile() != verify_.ProjectFile()) continue;
    if (!report) {
      Warn(failure);
      continue;
    }
    level.session->ReadVerifyList();
    level.session->KeepVerifyReport(*report);
    map_->StatesChanged();
  }
  UpdateLegend();
}

QString MapViewerWindow::VerifyText() const { return verifyResult_->text(); }

void MapViewerWindow::SelectVerifyListed() {
  mapview::TileStateGrid* states = session_ ? session_->States() : nullptr;
  if (!states) return;
  states->SelectVerifyListed();
  map_->StatesChanged();
  UpdateLegend();
}

void MapViewerWindow::Warn(const QString& text) {
  if (warn_) {
    warn_(text);
  } else {
    QMessageBox::warning(this, "Map Viewer", text);
  }
}

void MapViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MapViewerWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.first().isLocalFile()) OpenProject(urls.first().toLocalFile().toStdString());
}
