// What the status line says about a download: its progress while workers run, the workers still
// finishing their tile after Stop, and the summary from the moment the last worker has ended.
#pragma once

#include <string>

class DownloadController;
class LevelSetRun;

struct StatusLine {
  std::string text;
  std::string tooltip;
};

StatusLine DownloadStatusLine(const DownloadController& controller);

// The same for a level set: the level in hand and the figures of the whole set while it runs,
// the summary of the set after its last level.
StatusLine LevelSetStatusLine(const LevelSetRun& set, const DownloadController& controller, bool running);
