// Level sets in the main window: a "to" zoom above the zoom level downloads every level between,
// coarsest first, as one download with one question, one progress, one summary and one end box.
#include <QLineEdit>
#include <QPushButton>

#include "engine/level_set.h"
#include "platform/file_ops.h"
#include "ui/Unit1.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

namespace {

const std::string kEndBoxText = "Task stoped!" + std::string(20, ' ');

}  // namespace

bool TForm1::LevelSetWanted() const { return EditZoomTo->text() != Edit5->text(); }

// The "to" zoom follows the zoom while they are equal, and never stays below it.
void TForm1::ZoomChanged(int zoom) {
  if (UpDownTo->Position() == zoomShown_ || UpDownTo->Position() < zoom) UpDownTo->SetPosition(zoom);
  zoomShown_ = zoom;
}

void TForm1::StartLevelSet(const StartInputs& inputs) {
  const auto range = ParseZoomRange(inputs.Zoom + "-" + EditZoomTo->text().toStdString());
  if (const auto* reason = std::get_if<std::string>(&range)) {
    qm::ShowMessage(*reason);
    return;
  }
  const ZoomRange zooms = std::get<ZoomRange>(range);
  // Refused before the question: no set of these levels can be downloaded from this server.
  if (const auto refusal = controller_->ServerZoomRefusal(zooms.last)) return qm::ShowMessage(*refusal);
  if (!ConfirmedLevelSet(inputs, zooms)) return;
  levelSet_ = std::make_unique<LevelSetRun>(*controller_, *this);
  levelSetRunning_ = true;  // the levels' own questions are answered by the set's
  levelSetStopWanted_ = false;
  controller_->SetEndBoxShown(false);
  const LevelSetRun::Outcome outcome = levelSet_->Start(inputs, zooms);
  levelSetRunning_ = outcome == LevelSetRun::Outcome::kRunning;
  controller_->SetEndBoxShown(!levelSetRunning_);
  summaryPending_ = outcome != LevelSetRun::Outcome::kRefused;
  if (outcome == LevelSetRun::Outcome::kRefused) levelSet_.reset();
  if (outcome != LevelSetRun::Outcome::kAlreadyComplete) return;
  // The window says so before the box, with the set's own log, not the last task's.
  RefreshStatus();
  qm::ShowMessage(levelSet_->CompleteText());
}

// A new set asks once for all its levels, above the figures at which one task asks, counting
// only the tiles of the area in use; a set continued as it was does not ask again.
bool TForm1::ConfirmedLevelSet(const StartInputs& in, ZoomRange zooms) {
  const auto& area = controller_->Area();
  const LevelEstimates levels = EstimateLevels(in.LeftLongitude, in.RightLongitude, in.TopLatitude,
                                               in.BottomLatitude, zooms, area.get());
  if (levels.levels.empty()) return true;  // the first level's own checks speak for the fields
  const std::string setFile = qm::WithTrailingSeparator(in.Folder) + LevelSetFileName(in.TaskName);
  const LevelSet wanted{in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude,
                        in.Folder, in.TaskName, zooms, {}, std::nullopt, area};
  if (qm::FileExists(setFile) && LoadLevelSet(setFile).SameSetAs(wanted)) return true;
  int64_t tiles = 0, listBytes = 0;
  for (const AreaEstimate& level : levels.levels) {
    if (level.tiles > kMaxTaskTiles) return true;  // refused by the set itself, without a question
    tiles += level.tiles;
    listBytes += level.listBytes;
  }
  if (tiles <= DownloadController::kConfirmTiles && listBytes <= DownloadController::kConfirmListBytes) return true;
  return ConfirmLargeDownload("This set holds " + LevelsTotalText(levels.levels) + ".\n\nStart the download?");
}

// After the controller's tick: a level that ended hands over to the next, and the end of the
// last one ends the set.
void TForm1::LevelSetTick() {
  if (controller_->Running()) {
    levelSet_->Tick();
    return;
  }
  if (levelSet_->LevelEnded(levelSetStopWanted_)) return;
  levelSetRunning_ = false;
  controller_->SetEndBoxShown(true);
  summaryPending_ = true;
  RefreshStatus();
  qm::ShowMessage(kEndBoxText);
}

// Open task on a set file: its fields, its folder and both zooms; a set file whose keys were broken
// by hand is refused with what is wrong.
void TForm1::OpenLevelSet(const std::string& setFile) {
  const LevelSet set = LoadLevelSet(setFile);
  // Keys a hand edit broke would fill the fields with what the file does not say.
  if (set.keysProblem) return qm::ShowMessage(*LevelSetProblem(set, setFile));
  Edit1->setText(QString::fromStdString(set.LeftLongitude));
  Edit3->setText(QString::fromStdString(set.RightLongitude));
  Edit2->setText(QString::fromStdString(set.TopLatitude));
  Edit4->setText(QString::fromStdString(set.BottomLatitude));
  std::string folder = qm::ExtractFilePath(setFile);
  if (folder.size() > 1) folder.pop_back();  // as the folder field shows a folder
  Edit6->setText(QString::fromStdString(folder));
  EditTaskName->setText(QString::fromStdString(set.TaskName));
  UpDown1->SetPosition(set.zooms.first);
  UpDownTo->SetPosition(set.zooms.last);
  OpenProjectArea(setFile);
  ShowEstimate();
}
