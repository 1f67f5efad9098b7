// What the status line says about a download: its progress while workers run, the workers still
// finishing their tile after Stop, and the summary from the moment the last worker has ended.
#pragma once

#include <string>

class DownloadController;

struct StatusLine {
  std::string text;
  std::string tooltip;
};

StatusLine DownloadStatusLine(const DownloadController& controller);
