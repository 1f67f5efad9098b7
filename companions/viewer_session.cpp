// The viewer's project: survey on a thread, changes from inotify, overviews in the background.
#include "companions/viewer_session.h"

#include <QSocketNotifier>

#include "mapview/overview_plan.h"
#include "mapview/piece_images.h"
#include "mapview/tile_survey.h"
#include "platform/file_ops.h"

namespace {

// Decoded images kept in memory; tiles are 256 KiB each decoded, pieces the same.
constexpr size_t kImageBudgetBytes = size_t{128} << 20;

}  // namespace

ViewerSession::ViewerSession(const std::string& projectFile, std::string blankBytes, QObject* parent)
    : QObject(parent),
      projectFile_(projectFile),
      area_(ReadProjectArea(projectFile)),
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
  stopSurvey_ = true;
  if (survey_.joinable()) survey_.join();
  builder_.reset();
  cache_.reset();
}

mapview::CellRect ViewerSession::Cells() const { return mapview::AreaCells(area_); }

void ViewerSession::Start() {
  if (watch_.Descriptor() >= 0) {
    notifier_ = new QSocketNotifier(watch_.Descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ViewerSession::ReadChanges);
    watch_.Watch(qm::ExtractFilePath(projectFile_).empty() ? "." : qm::ExtractFilePath(projectFile_));
  }
  WatchTileFolder();
  builder_->Start();
  if (!states_) return;
  ReadFailedList();
  surveying_ = true;
  survey_ = std::thread([this] { Survey(); });
}

void ViewerSession::WatchTileFolder() {
  if (!watchingTiles_) watchingTiles_ = watch_.Watch(area_.tileFolder);
}

void ViewerSession::Survey() {
  const bool completed = mapview::SurveyTileFolder(area_, blankBytes_, stopSurvey_, [this](std::vector<mapview::TileFile>&& files) {
    QMetaObject::invokeMethod(this, [this, files = std::move(files)] { TakeSurveyed(files); }, Qt::QueuedConnection);
  });
  QMetaObject::invokeMethod(this, [this, completed] { SurveyEnded(completed); }, Qt::QueuedConnection);
}

void ViewerSession::TakeSurveyed(std::vector<mapview::TileFile> files) {
  for (const mapview::TileFile& file : files) states_->SetFile(file.x, file.y, file.state);
  filesSurveyed_ += static_cast<int64_t>(files.size());
  emit statesChanged();
}

void ViewerSession::SurveyEnded(bool completed) {
  surveying_ = false;
  if (completed) states_->MarkUnseenMissing();
  emit statesChanged();
}

void ViewerSession::ReadChanges() {
  bool overflowed = false;
  const std::string failedName = qm::ExtractFileName(area_.failedList);
  bool statesTouched = false;
  for (const mapview::FolderChange& change : watch_.Changes(overflowed)) {
    if (change.name == failedName) {
      ReadFailedList();
      statesTouched = true;
    } else if (change.name == area_.name) {
      WatchTileFolder();
    } else if (const auto tile = mapview::TileOfFileName(area_, change.name)) {
      TileChanged(tile->first, tile->second);
      statesTouched = true;
    }
  }
  if (overflowed) emit lostTrack();
  if (statesTouched) {
    emit statesChanged();
    emit imagesChanged();
  }
}

void ViewerSession::TileChanged(int64_t x, int64_t y) {
  if (states_) {
    states_->SetFile(x, y, mapview::FileStateOf(area_.TilePath(static_cast<int32_t>(x), static_cast<int32_t>(y)), blankBytes_));
  }
  for (int level = 0; level < mapview::kFirstOverviewLevel; ++level) cache_->Forget({level, x, y});
  builder_->TileChanged(x, y);
}

void ViewerSession::ReadFailedList() {
  if (states_) states_->SetListedFailed(mapview::ReadFailedTiles(area_));
}
