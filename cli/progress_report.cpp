// The progress line, fitted to the terminal, and when it is written.
#include "cli/progress_report.h"

#include <signal.h>
#include <sys/ioctl.h>

#include <atomic>

#include "engine/area_input.h"

namespace {

constexpr int kBarWidth = 20;
constexpr size_t kColumnsWhenUnknown = 80;
constexpr std::chrono::seconds kPlainInterval{10};

std::atomic<bool> terminalResized{false};

void OnResize(int) { terminalResized.store(true); }

size_t TerminalColumns(int fd) {
  winsize size{};
  return ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : kColumnsWhenUnknown;
}

std::string Bar(const DownloadProgress& p) {
  const int filled = p.Total() > 0 ? static_cast<int>(p.Done() * kBarWidth / p.Total()) : 0;
  return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
}

}  // namespace

void InstallResizeSignal() {
  struct sigaction action {};
  action.sa_handler = OnResize;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGWINCH, &action, nullptr);
}

size_t DisplayColumns(std::string_view text) {
  size_t columns = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;  // UTF-8 continuation bytes add none
  }
  return columns;
}

std::string ProgressLine(const DownloadProgress& p, size_t columns) {
  const TileCounts& c = p.Counts();
  const std::string tiles = GroupedCount(p.Done()) + " of " + GroupedCount(p.Total()) + " tiles";
  const std::string fewerWords = GroupedCount(p.Done()) + "/" + GroupedCount(p.Total()) + " tiles";
  const std::string counts = " (ok " + GroupedCount(c.stored) + ", blank " + GroupedCount(c.blank) + ", failed " +
                             GroupedCount(c.failed) + ")";
  const std::string failed = " (failed " + GroupedCount(c.failed) + ")";
  const std::string rate = " · " + RateText(p);
  const std::string elapsed = " · " + DurationText(p.ElapsedSeconds()) + " elapsed";
  const std::string left = " · " + TimeLeftText(p);
  if (columns == 0) return tiles + counts + rate + elapsed + left;
  const std::string bar = Bar(p);
  for (const std::string& line : {bar + tiles + counts + rate + elapsed + left, bar + tiles + counts + rate + left,
                                  tiles + counts + rate + left, tiles + counts + left, tiles + failed + left,
                                  fewerWords + failed + left, tiles + left, tiles}) {
    if (DisplayColumns(line) < columns) return line;
  }
  return tiles.substr(0, columns - 1);
}

void ProgressReport::Tick(const DownloadProgress& progress, std::chrono::steady_clock::time_point now) {
  if (quiet_) return;
  if (terminalFd_ < 0) {
    if (now - lastPlainLine_ < kPlainInterval) return;
    lastPlainLine_ = now;
    std::fprintf(out_, "%s\n", WithPrefix(progress, 0).c_str());
  } else {
    LeaveWrappedLine();
    const std::string line = WithPrefix(progress, columns_);
    std::fprintf(out_, "\r%s\x1b[K", line.c_str());
    shownColumns_ = DisplayColumns(line);
  }
  std::fflush(out_);
}

std::string ProgressReport::WithPrefix(const DownloadProgress& progress, size_t columns) const {
  if (prefix_.empty()) return ProgressLine(progress, columns);
  const std::string lead = prefix_ + " · ";
  const size_t leadColumns = DisplayColumns(lead);
  if (columns == 0) return lead + ProgressLine(progress, 0);
  // On a narrow terminal the figures come first: the prefix only beside a whole tile count.
  if (columns > leadColumns) {
    const std::string figures = ProgressLine(progress, columns - leadColumns);
    if (figures.find(" tiles") != std::string::npos) return lead + figures;
  }
  return ProgressLine(progress, columns);
}

void ProgressReport::Clear() {
  if (shownColumns_ == 0) return;
  LeaveWrappedLine();
  if (shownColumns_ > 0) std::fputs("\r\x1b[K", out_);
  shownColumns_ = 0;
  std::fflush(out_);
}

// After the terminal became narrower than the line shown, the terminal has wrapped that line
// onto more rows (or cut it): no line erase reaches all of it, so it stays and the next line
// starts below.
void ProgressReport::LeaveWrappedLine() {
  if (columns_ == 0 || terminalResized.exchange(false)) columns_ = TerminalColumns(terminalFd_);
  if (shownColumns_ >= columns_) {
    std::fputc('\n', out_);
    shownColumns_ = 0;
  }
}
