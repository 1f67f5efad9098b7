// The status line of a running or ended download.
#include "download/status_line.h"

#include "download/download_controller.h"

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
