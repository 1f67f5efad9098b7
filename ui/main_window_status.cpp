// The main window's status bar and questions: the estimate while typing, the figures of a
// download, its summary, the tile list's progress and the question before a large download.
#include <algorithm>

#include <QLineEdit>
#include <QProgressBar>

#include "download/status_line.h"
#include "engine/area_input.h"
#include "engine/level_set.h"
#include "ui/Unit1.h"
#include "ui/elided_label.h"
#include "ui/list_progress_dialog.h"
#include "ui/message_box.h"

void TForm1::RefreshStatus() {
  const DownloadController& c = *controller_;
  const bool running = c.Running() || levelSetRunning_;
  const DownloadProgress& progress = levelSet_ ? levelSet_->Progress() : c.Progress();
  DownloadProgressBar->setVisible(running);
  if (running) {
    summaryPending_ = true;
    const int64_t total = std::max<int64_t>(1, progress.Total());
    DownloadProgressBar->setValue(static_cast<int>(progress.Done() * 1000 / total));
  } else if (!summaryPending_ || (!levelSet_ && (!c.LastEnd() || c.CurrentTask() == nullptr))) {
    return;  // the estimate or the last summary stays
  } else {
    summaryPending_ = false;
  }
  const StatusLine line = levelSet_ ? LevelSetStatusLine(*levelSet_, c, levelSetRunning_) : DownloadStatusLine(c);
  StatusText->setText(QString::fromStdString(line.text));
  StatusText->setToolTip(QString::fromStdString(line.tooltip));
}

void TForm1::StatusChanged() { RefreshStatus(); }

// While the user edits the area, the status bar says what it amounts to or what is missing.
void TForm1::ShowEstimate() {
  if (controller_->Running() || levelSetRunning_) return;
  const StartInputs in = ReadInputs();
  if (LevelSetWanted()) {
    const auto range = ParseZoomRange(in.Zoom + "-" + EditZoomTo->text().toStdString());
    const auto* zooms = std::get_if<ZoomRange>(&range);
    const LevelEstimates levels =
        zooms ? EstimateLevels(in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude, *zooms,
                               controller_->Area().get())
              : LevelEstimates{{}, std::get<std::string>(range)};
    ShowAreaCut(levels.levels);
    StatusText->setText(QString::fromStdString(
        levels.levels.empty() ? levels.reason : FiguresWithAreaCut(levels.levels, LevelsTotalText(levels.levels))));
    StatusText->setToolTip(QString());
    return;
  }
  const AreaEstimateOrReason area = EstimateOfFields(in);
  const std::vector<AreaEstimate> levels = area.estimate ? std::vector{*area.estimate} : std::vector<AreaEstimate>{};
  ShowAreaCut(levels);
  StatusText->setText(QString::fromStdString(area.estimate ? FiguresWithAreaCut(levels, EstimateText(*area.estimate))
                                                           : area.reason));
  StatusText->setToolTip(QString());
}

// A tile list that takes more than half a second shows a dialog whose Cancel (or closing the
// window) undoes the Start; events are handled meanwhile, so the window stays responsive.
bool TForm1::ListProgress(int64_t tilesWritten, int64_t totalTiles) {
  if (!listDialog_) listDialog_ = std::make_unique<ListProgressDialog>(this);
  return listDialog_->Update(tilesWritten, totalTiles) && !closing_;
}

bool TForm1::ConfirmLargeDownload(const std::string& question) {
  if (levelSetRunning_) return true;  // the set asked once for all its levels
  // A rate stays on one line however the box wraps the question.
  QString text = QString::fromStdString(question);
  text.replace(" tiles/s", QChar(0x00A0) + QString("tiles/s"));
  return qm::AskYesNo(text);
}
