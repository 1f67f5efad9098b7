// Progress of a download on standard error: on a terminal one line rewritten in place every
// second and fitted to the terminal's width, otherwise a plain line every ten seconds.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "download/download_progress.h"

class ProgressReport {
 public:
  // terminalFd: the terminal that out writes to, or -1 when it writes to a file or pipe.
  ProgressReport(std::FILE* out, int terminalFd, bool quiet) : out_(out), terminalFd_(terminalFd), quiet_(quiet) {}
  // Called once a second while the download runs.
  void Tick(const DownloadProgress& progress, std::chrono::steady_clock::time_point now);
  // Erases the line on a terminal, so that a message or the summary can take its place.
  void Clear();
  // Put before the figures on every line ("level 3 of 7, zoom 12"), while the terminal has room.
  void SetPrefix(std::string prefix) { prefix_ = std::move(prefix); }

 private:
  void LeaveWrappedLine();
  std::string WithPrefix(const DownloadProgress& progress, size_t columns) const;

  std::FILE* out_;
  int terminalFd_;
  bool quiet_;
  std::string prefix_;
  size_t columns_ = 0;       // of the terminal, read at the first line and after each resize
  size_t shownColumns_ = 0;  // of the line on the terminal now; 0 when there is none
  std::chrono::steady_clock::time_point lastPlainLine_{};
};

// SIGWINCH: the terminal's new width is taken at once, and the line shown before is erased even
// where the terminal wrapped it onto more rows.
void InstallResizeSignal();

// The line for a terminal of the given width, leaving its last column free: the pieces that
// matter least are left out first (elapsed time, bar, rate, the counts but failed ones, the time
// left). Width 0 gives the whole line without a bar, for a file. The whole line reads
// "[#####.....] 1,234 of 5,000 tiles (ok 1,200, blank 20, failed 14) · 8.0 tiles/s · 00:02:34
// elapsed · 00:07:51 left".
std::string ProgressLine(const DownloadProgress& progress, size_t columns);

// Columns a text takes on a terminal (every character one column).
size_t DisplayColumns(std::string_view text);
