// The status line of a running or ended download.
#include "download/status_line.h"

#include "download/download_controller.h"
#include "download/level_set_run.h"

StatusLine DownloadStatusLine(const DownloadController& c) {
  const DownloadProgress& progress = c.Progress();
  if (c.Running() && !c.WorkersEnded()) {
    const std::string counts = CountsText(progress.Counts());
    if (c.Stopping()) {
      return {"Stopping: " + std::to_string(c.RunningThreads()) + " of " +
                  std::to_string(c.CurrentParams()->ThreadCount) + " workers are finishing their tile...",
              counts};
    }
    return {ProgressText(progress), counts};
  }
  const std::string summary = SummaryText(c.Summary());
  return {summary, summary};
}

StatusLine LevelSetStatusLine(const LevelSetRun& set, const DownloadController& c, bool running) {
  if (!running) {
    const std::string summary = set.FoundComplete() ? set.CompleteText() : SummaryText(set.Summary());
    return {summary, summary};
  }
  if (c.Stopping()) {
    StatusLine line = DownloadStatusLine(c);
    line.text = set.LevelText() + " · " + line.text;
    return line;
  }
  return {set.LevelText() + " · " + ProgressText(set.Progress()), CountsText(set.Progress().Counts())};
}
