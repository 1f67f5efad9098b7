// The map viewer's window.
#include "companions/mapviewer_window.h"

#include <climits>

#include <QApplication>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/Commonfunc.h"
#include "engine/tile_source.h"
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
  hoverLabel_ = new QLabel("Open a project: File > Open, or drop a .qmtp file here.");
  statusBar()->addWidget(hoverLabel_, 1);
  BuildMenus();
  connect(map_, &mapview::MapWidget::hovered, this, &MapViewerWindow::ShowHover);
  connect(map_, &mapview::MapWidget::hoverLeft, this, [this] { hoverLabel_->clear(); });
  connect(map_, &mapview::MapWidget::selectionChanged, this, &MapViewerWindow::UpdateLegend);
  connect(&fetch_, &FetchAgainRun::progressed, this, &MapViewerWindow::ShowFetchProgress);
  connect(&fetch_, &FetchAgainRun::ended, this, &MapViewerWindow::FetchEnded);
  legendTimer_ = new QTimer(this);
  connect(legendTimer_, &QTimer::timeout, this, &MapViewerWindow::UpdateLegend);
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
}

QWidget* MapViewerWindow::BuildLegend() {
  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  title_ = new QLabel;
  title_->setWordWrap(true);
  layout->addWidget(title_);
  auto* grid = new QGridLayout;
  int row = 0;
  const QImage blankTile = mapview::DecodeTileBytes(blankBytes_, kSwatchSide);
  for (const LegendRow& entry : kLegendRows) {
    auto* swatch = new QLabel;
    swatch->setObjectName(QString("swatch%1").arg(static_cast<int>(entry.state)));
    swatch->setPixmap(Swatch(mapview::StateColour(entry.state),
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
  auto* hint = new QLabel("Click a missing or failed tile, or Shift+drag a rectangle, to select it.");
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
  layout->addStretch(1);
  panel->setMinimumWidth(260);
  panel->setMaximumWidth(340);
  return panel;
}

bool MapViewerWindow::OpenProject(const std::string& projectFile) {
  std::unique_ptr<ViewerSession> session;
  try {
    session = std::make_unique<ViewerSession>(projectFile, blankBytes_);
  } catch (const std::exception& e) {
    Warn(QString::fromStdString(e.what()));
    return false;
  }
  fetch_.Stop();
  map_->SetStates(nullptr);
  session_ = std::move(session);
  connect(session_.get(), &ViewerSession::statesChanged, map_, &mapview::MapWidget::StatesChanged);
  connect(session_.get(), &ViewerSession::imagesChanged, map_, qOverload<>(&QWidget::update));
  map_->SetArea(session_->Cells(), &session_->Cache());
  map_->SetStates(session_->States());
  session_->Start();
  const ProjectArea& area = session_->Area();
  setWindowTitle(QString::fromStdString(area.name) + " - Map Viewer");
  title_->setText(QString("<b>%1</b><br>zoom %2, %3 × %4 tiles<br>columns %5–%6, rows %7–%8")
                      .arg(QString::fromStdString(area.name)).arg(area.zoom)
                      .arg(Grouped(area.Columns()), Grouped(area.Rows()))
                      .arg(area.minX).arg(area.maxX).arg(area.minY).arg(area.maxY));
  hoverLabel_->clear();
  UpdateLegend();
  return true;
}

void MapViewerWindow::OpenLastProject() {
  const qm::IniFile config(qm::ConfigFilePath(programFolder_));
  const std::string last = config.ReadString("IniParas", "LastProject", "");
  if (!last.empty() && qm::FileExists(last)) OpenProject(last);
}

void MapViewerWindow::ChooseProject() {
  const QString file = QFileDialog::getOpenFileName(this, "Open a project", QString::fromStdString(OpenFolder()),
                                                    "Quillmere projects (*.qmtp);;All files (*)");
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

// Opens the same project again, keeping the view, after the folder watch lost track.
void MapViewerWindow::Reopen() {
  if (!session_) return;
  const mapview::Viewport view = map_->View();
  if (OpenProject(session_->ProjectFile())) map_->MoveTo(view);
}

void MapViewerWindow::UpdateLegend() {
  mapview::TileStateGrid* states = session_ ? session_->States() : nullptr;
  for (const LegendRow& entry : kLegendRows) {
    counts_[static_cast<int>(entry.state)]->setText(states ? Grouped(states->Count(entry.state)) : "–");
  }
  counts_[kSelectedRow]->setText(states ? Grouped(states->SelectedCount()) : "–");
  const bool fetching = fetch_.Running();
  fetchButton_->setEnabled(states && states->SelectedCount() > 0 && !fetching);
  clearButton_->setEnabled(states && states->SelectedCount() > 0);
  stopButton_->setVisible(fetching);
  if (!session_ || fetching) return;
  QStringList lines;
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
    static const char* kStateNames[] = {"not surveyed yet", "stored", "blank", "missing", "failed"};
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
  if (!states || states->SelectedCount() == 0 || fetch_.Running()) return;
  try {
    const FetchSettings settings = ReadFetchSettings(qm::ConfigFilePath(programFolder_));
    const std::string listFile = mapview::OverviewFolderFor(session_->ProjectFile()) + "fetch_again.ftl";
    qm::CreateDirectory(mapview::OverviewFolderFor(session_->ProjectFile()));
    qm::CreateDirectory(session_->Area().tileFolder);
    session_->WatchTileFolder();
    fetch_.Start(session_->Area(), states->SelectedTiles(), settings, listFile);
  } catch (const std::exception& e) {
    Warn(QString::fromStdString(e.what()));
    return;
  }
  const auto selected = static_cast<qint64>(states->SelectedCount());
  states->ClearSelection();
  map_->StatesChanged();
  fetchBar_->setVisible(true);
  ShowFetchProgress(0, selected, 0);
  UpdateLegend();
}

void MapViewerWindow::ShowFetchProgress(qint64 done, qint64 total, qint64 failed) {
  fetchBar_->setRange(0, static_cast<int>(std::min<qint64>(total, INT_MAX)));
  fetchBar_->setValue(static_cast<int>(std::min<qint64>(done, INT_MAX)));
  progress_->setText(QString("Fetching: %1 of %2 tiles, %3 failed").arg(Grouped(done), Grouped(total), Grouped(failed)));
}

void MapViewerWindow::FetchEnded(const QString& summary) {
  fetchBar_->setVisible(false);
  progress_->setText(summary);
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
