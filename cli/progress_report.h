// Progress of a download on standard error: on a terminal one line rewritten in place every
// second, otherwise a plain line every ten seconds.
#pragma once

#include <chrono>
#include <cstdio>

#include "download/download_progress.h"

class ProgressReport {
 public:
  ProgressReport(std::FILE* out, bool terminal, bool quiet) : out_(out), terminal_(terminal), quiet_(quiet) {}
  // Called once a second while the download runs.
  void Tick(const DownloadProgress& progress, std::chrono::steady_clock::time_point now);
  // Ends the line on a terminal.
  void Finish();

 private:
  std::FILE* out_;
  bool terminal_;
  bool quiet_;
  bool wroteLine_ = false;
  std::chrono::steady_clock::time_point lastPlainLine_{};
};

// "[#####.....] 1,234 of 5,000 tiles (ok 1,200, blank 20, failed 14) · 8.0 tiles/s · 00:02:34
// elapsed · 00:07:51 left"
std::string ProgressLine(const DownloadProgress& progress, bool withBar);
