// The viewer's project: survey on a thread, changes from inotify, overviews in the background.
#include "companions/viewer_session.h"

#include <sys/stat.h>

#include <utility>

#include <QLocale>
#include <QSocketNotifier>

#include "engine/Unitclasstask.h"

#include "mapview/overview_plan.h"
#include "mapview/piece_images.h"
#include "mapview/tile_survey.h"
#include "mapview/web_tile_source.h"
#include "platform/file_ops.h"

namespace {

// Decoded images kept in memory; tiles are 256 KiB each decoded, pieces the same.
constexpr size_t kImageBudgetBytes = size_t{128} << 20;

// Tells one version of a file from another: its inode, size and time of change.
std::string FileStamp(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  return std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) +
         "." + std::to_string(info.st_mtim.tv_nsec);
}

bool Later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// The listed tiles whose files were not written again after the list was (a fetch or a
// re-download mended them since). The time of change is taken, as a stored tile's time of
// modification is the server's.
std::vector<mapview::TileXY> NotWrittenSince(const ProjectArea& area, const std::string& listFile,
                                             std::vector<mapview::TileXY> tiles) {
  struct stat list {};
  if (tiles.empty() || stat(listFile.c_str(), &list) != 0) return tiles;
  std::erase_if(tiles, [&](const mapview::TileXY& tile) {
    struct stat info {};
    const std::string path = area.TilePath(static_cast<int32_t>(tile.first), static_cast<int32_t>(tile.second));
    return stat(path.c_str(), &info) == 0 && Later(info.st_ctim, list.st_mtim);
  });
  return tiles;
}

QString Grouped(int64_t n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

// A hand-made project may name what no download makes; such an area is refused before anything
// starts walking it.
const ProjectArea& ShowableArea(const std::string& projectFile, const ProjectArea& area) {
  if (area.zoom > mapview::kWorldZoom) {
    throw ProjectAreaError(QString("%1 is of zoom level %2; the viewer shows the zoom levels a download takes, "
                                   "up to %3.").arg(QString::fromStdString(projectFile)).arg(area.zoom)
                               .arg(mapview::kWorldZoom).toStdString());
  }
  if (area.Tiles() > kMaxTaskTiles) {
    throw ProjectAreaError(QString("%1 covers %2 tiles, more than a download can hold (%3), so the viewer does "
                                   "not open it.").arg(QString::fromStdString(projectFile), Grouped(area.Tiles()),
                                                       Grouped(kMaxTaskTiles)).toStdString());
  }
  return area;
}

}  // namespace

ViewerSession::ViewerSession(const std::string& projectFile, std::string blankBytes, QObject* parent)
    : ViewerSession(projectFile, ReadProjectArea(projectFile), std::move(blankBytes), parent) {}

ViewerSession::ViewerSession(const std::string& projectFile, const ProjectArea& area, std::string blankBytes,
                             QObject* parent)
    : QObject(parent),
      projectFile_(projectFile),
      area_(ShowableArea(projectFile, area)),
      blankBytes_(std::move(blankBytes)),
      store_(mapview::OverviewFolderFor(projectFile)) {
  if (Cells().Count() <= mapview::kMaxSurveyTiles) states_ = std::make_unique<mapview::TileStateGrid>(Cells());
  cache_ = std::make_unique<mapview::PieceCache>(
      [this](const mapview::PieceKey& piece) {
        if (piece.level < mapview::kFirstOverviewLevel) {
          return mapview::DecodeTile(area_.TilePath(static_cast<int32_t>(piece.x), static_cast<int32_t>(piece.y)),
                                     mapview::kTilePixels >> piece.level);
        }
        const std::string file = store_.PathOf(piece);
        return file.empty() ? QImage() : mapview::DecodeTile(file, mapview::kTilePixels);
      },
      kImageBudgetBytes);
  builder_ = std::make_unique<mapview::OverviewBuilder>(
      Cells(), area_.tileFolder, area_.zoom, store_, [this](const mapview::PieceKey& piece) {
        QMetaObject::invokeMethod(this, [this, piece] {
          cache_->Forget(piece);
          emit imagesChanged();
        }, Qt::QueuedConnection);
      });
}

ViewerSession::~ViewerSession() {
  StopSurvey();
  builder_.reset();
  cache_.reset();
}

mapview::CellRect ViewerSession::Cells() const { return mapview::AreaCells(area_); }

bool ViewerSession::Started() const { return qm::FileExists(projectFile_); }

void ViewerSession::Start() {
  StartSurvey();
  StartOverviews();
}

void ViewerSession::StartOverviews() {
  if (!std::exchange(building_, true)) builder_->Start();
}

void ViewerSession::StartSurvey() {
  if (watch_.Descriptor() >= 0) {
    notifier_ = new QSocketNotifier(watch_.Descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ViewerSession::ReadChanges);
    watch_.Watch(qm::ExtractFilePath(projectFile_).empty() ? "." : qm::ExtractFilePath(projectFile_));
  }
  watch_.Watch(area_.tileFolder);
  ReadFailedList();
  ReadVerifyList();
  StartSurveyRound();
}

// The kernel may report the old tile folder's end only after the new one has been made (when
// the old one is finally released), so the name coming back is enough to watch it: a watch that
// is new means a folder that is new, surveyed again.
void ViewerSession::WatchTileFolder() {
  bool isNew = false;
  if (!watch_.Watch(area_.tileFolder, &isNew)) return;
  if (isNew) Rescan();
}

void ViewerSession::Rescan() {
  builder_->WalkAgain();
  StopSurvey();
  if (states_) states_->ForgetFiles();
  StartSurveyRound();
  emit statesChanged();
}

void ViewerSession::StartSurveyRound() {
  if (!states_) return;
  stopSurvey_ = false;
  surveying_ = true;
  filesSurveyed_ = 0;
  changedDuringSurvey_.clear();
  survey_ = std::thread([this] { Survey(); });
}

// Batches of a stopped survey that are still queued are dropped by TakeSurveyed's check.
void ViewerSession::StopSurvey() {
  stopSurvey_ = true;
  if (survey_.joinable()) survey_.join();
  surveying_ = false;
  ++surveyRound_;
}

// A survey that fails part way (out of memory) ends as an incomplete one: nothing is taken as missing.
void ViewerSession::Survey() {
  const int round = surveyRound_;
  bool completed = false;
  try {
    completed = mapview::SurveyTileFolder(area_, blankBytes_, stopSurvey_, [this, round](std::vector<mapview::TileFile>&& files) {
      QMetaObject::invokeMethod(this, [this, round, files = std::move(files)] { TakeSurveyed(round, files); }, Qt::QueuedConnection);
    });
  } catch (const std::exception&) {
    completed = false;
  }
  QMetaObject::invokeMethod(this, [this, round, completed] { SurveyEnded(round, completed); }, Qt::QueuedConnection);
}

int64_t ViewerSession::CellIndex(int64_t x, int64_t y) const { return (y - area_.minY) * area_.Columns() + (x - area_.minX); }

void ViewerSession::TakeSurveyed(int round, const std::vector<mapview::TileFile>& files) {
  if (round != surveyRound_) return;
  for (const mapview::TileFile& file : files) {
    if (!changedDuringSurvey_.contains(CellIndex(file.x, file.y))) states_->SetFile(file.x, file.y, file.state);
  }
  filesSurveyed_ += static_cast<int64_t>(files.size());
  emit statesChanged();
}

void ViewerSession::SurveyEnded(int round, bool completed) {
  if (round != surveyRound_) return;
  surveying_ = false;
  changedDuringSurvey_.clear();
  if (completed) states_->MarkUnseenMissing();
  emit statesChanged();
}

void ViewerSession::ReadChanges() {
  bool overflowed = false;
  const std::string failedName = qm::ExtractFileName(area_.failedList);
  const std::string verifyName = qm::ExtractFileName(mapview::VerifyListOf(area_));
  bool statesTouched = false;
  for (const mapview::FolderChange& change : watch_.Changes(overflowed)) {
    if (change.name == failedName) {
      ReadFailedList();
      statesTouched = true;
    } else if (change.name == verifyName) {
      ReadVerifyList();
      statesTouched = true;
    } else if (change.folder == area_.tileFolder && change.name.empty()) {
      // The tile folder went away; a new one is watched when its name comes again.
    } else if (change.name == area_.name) {
      WatchTileFolder();
    } else if (const auto tile = mapview::TileOfFileName(area_, change.name)) {
      TileChanged(tile->first, tile->second);
      statesTouched = true;
    }
  }
  if (overflowed) Rescan();
  if (statesTouched) {
    emit statesChanged();
    emit imagesChanged();
  }
}

void ViewerSession::TileChanged(int64_t x, int64_t y) {
  if (surveying_) changedDuringSurvey_.insert(CellIndex(x, y));
  if (states_) {
    states_->ForgetDamaged(x, y);  // written again since the verify
    states_->SetFile(x, y, mapview::FileStateOf(area_.TilePath(static_cast<int32_t>(x), static_cast<int32_t>(y)), blankBytes_));
  }
  for (int level = 0; level < mapview::kFirstOverviewLevel; ++level) cache_->Forget({level, x, y});
  builder_->TileChanged(x, y);
}

void ViewerSession::ReadFailedList() {
  if (states_) states_->SetListedFailed(mapview::ReadFailedTiles(area_));
}

void ViewerSession::ReadVerifyList() {
  const std::string list = VerifyListFile();
  if (verifyReport_ && FileStamp(list) != verifyReportStamp_) verifyReport_.reset();
  if (states_) states_->SetListedDamaged(NotWrittenSince(area_, list, mapview::ReadListedTiles(area_, list)));
}

void ViewerSession::KeepVerifyReport(const VerifyReport& report) {
  verifyReport_ = report;
  verifyReportStamp_ = FileStamp(VerifyListFile());
}

void ViewerSession::SetShape(const AreaCover& cover, std::vector<mapview::PointRing> outline) {
  outline_ = std::move(outline);
  tilesInside_ = cover.Tiles();
  if (!states_) return;
  states_->SetOutside([&cover](int64_t x, int64_t y) {
    return !cover.Contains(static_cast<int32_t>(x), static_cast<int32_t>(y));
  });
}
