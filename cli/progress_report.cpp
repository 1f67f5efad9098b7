// The progress line and when it is written.
#include "cli/progress_report.h"

#include <string>

#include "engine/area_input.h"

namespace {
constexpr int kBarWidth = 20;
constexpr std::chrono::seconds kPlainInterval{10};
}  // namespace

std::string ProgressLine(const DownloadProgress& p, bool withBar) {
  std::string line;
  if (withBar) {
    const int filled = p.Total() > 0 ? static_cast<int>(p.Done() * kBarWidth / p.Total()) : 0;
    line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
  }
  const TileCounts& c = p.Counts();
  return line + GroupedCount(p.Done()) + " of " + GroupedCount(p.Total()) + " tiles (ok " + GroupedCount(c.stored) +
         ", blank " + GroupedCount(c.blank) + ", failed " + GroupedCount(c.failed) + ") · " + RateText(p) + " · " +
         DurationText(p.ElapsedSeconds()) + " elapsed · " + TimeLeftText(p);
}

void ProgressReport::Tick(const DownloadProgress& progress, std::chrono::steady_clock::time_point now) {
  if (quiet_) return;
  if (terminal_) {
    std::fprintf(out_, "\r%s\x1b[K", ProgressLine(progress, true).c_str());
    wroteLine_ = true;
  } else if (now - lastPlainLine_ >= kPlainInterval) {
    lastPlainLine_ = now;
    std::fprintf(out_, "%s\n", ProgressLine(progress, false).c_str());
  }
  std::fflush(out_);
}

void ProgressReport::Finish() {
  if (wroteLine_) std::fputc('\n', out_);
  wroteLine_ = false;
}
