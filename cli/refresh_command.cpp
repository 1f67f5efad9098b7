// The refresh of a project or level set on the command line: progress, summaries, exit status.
#include "cli/refresh_command.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "download/refresh_run.h"
#include "download/set_refresh.h"
#include "engine/area_input.h"
#include "engine/level_set.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/program_layout.h"

namespace {

int ExitStatusOf(const RefreshReport& report) {
  switch (report.end) {
    case RefreshEnd::kFileError: return kExitFileError;
    case RefreshEnd::kStopped: return kExitStoppedBySignal;
    case RefreshEnd::kWorkerEnded: return kExitWorkerEnded;
    case RefreshEnd::kComplete: break;
  }
  return report.counts.failed > 0 ? kExitFailedTiles : kExitComplete;
}

// The more telling of two statuses, in the order a download's end is told.
int Worse(int a, int b) {
  for (int status : {kExitFileError, kExitStoppedBySignal, kExitWorkerEnded, kExitFailedTiles}) {
    if (a == status || b == status) return status;
  }
  return kExitComplete;
}

// On a terminal one line rewritten every second, otherwise a plain line every ten seconds.
class RefreshProgressLine {
 public:
  // level: "Refreshing level 2 of 3, zoom 13: " within a set, "" for a project alone.
  RefreshProgressLine(bool quiet, std::string level)
      : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) != 0), level_(std::move(level)) {}
  // Called about once a second.
  void Show(const RefreshRun& run) {
    if (quiet_ || (!terminal_ && ++ticks_ % kPlainLineTicks != 0)) return;
    const RefreshCounts c = run.Counts();
    std::fprintf(stderr, "%s%s%s of %s tiles · unchanged %s · changed %s · kept %s · failed %s%s",
                 terminal_ ? "\r\033[K" : "", level_.c_str(), GroupedCount(c.Done()).c_str(), GroupedCount(run.Tiles()).c_str(), GroupedCount(c.unchanged).c_str(),
                 GroupedCount(c.changed).c_str(), GroupedCount(c.kept).c_str(), GroupedCount(c.failed).c_str(),
                 terminal_ ? "" : "\n");
  }
  void Clear() {
    if (!quiet_ && terminal_) std::fprintf(stderr, "\r\033[K");
  }

 private:
  static constexpr int kPlainLineTicks = 10;
  bool quiet_;
  bool terminal_;
  std::string level_;
  int ticks_ = 0;
};

// Refreshes one project; a stop signal stops the workers after their tile, a second aborts them.
// level and levels number it within a set (levels 0: a project alone).
RefreshReport RefreshProject(const std::string& project, const RefreshSettings& settings, const CliOptions& options,
                             int level, int levels) {
  RefreshRun run(project, settings);
  if (!options.quiet && run.Continues()) std::fprintf(stderr, "%s: continuing the refresh stopped before\n", project.c_str());
  RefreshProgressLine progress(options.quiet, levels > 0 ? RefreshLevelText(level, levels, run.Zoom()) : "");
  const RefreshReport report = run.Run([&] {
    if (StopSignalsReceived() >= 2) run.Abort();
    if (StopSignalsReceived() >= 1) run.Stop();
    progress.Show(run);
  });
  progress.Clear();
  if (!options.quiet) std::fprintf(stderr, "%s\n", RefreshSummaryText(report).c_str());
  return report;
}

// setName: the set's, empty for a project alone.
int RefreshAll(const std::vector<std::string>& projects, const RefreshSettings& settings, const CliOptions& options,
               SetRefreshRecord& record, const std::string& setName) {
  int status = kExitComplete;
  SetRefreshTotals totals;
  const int levels = setName.empty() ? 0 : static_cast<int>(projects.size());
  // The set's summary, once any level has been refreshed, in this run or before.
  const auto end = [&](int exitStatus, bool walkedEveryLevel) {
    totals.complete = walkedEveryLevel;
    if (walkedEveryLevel && totals.levels + totals.skipped > 0) record.Clear();
    if (!options.quiet && levels > 0 && totals.levels + totals.skipped > 0) {
      std::fprintf(stderr, "%s\n", SetRefreshSummaryText(setName, totals).c_str());
    }
    return totals.levels + totals.skipped == 0 && walkedEveryLevel ? kExitRefusedInput : exitStatus;
  };
  for (size_t i = 0; i < projects.size(); ++i) {
    const std::string& project = projects[i];
    if (StopSignalsReceived() > 0) return end(Worse(status, kExitStoppedBySignal), false);
    if (record.Finished(project)) {
      if (!options.quiet) std::fprintf(stderr, "%s: refreshed before this run\n", project.c_str());
      ++totals.skipped;
      continue;
    }
    try {
      const RefreshReport report = RefreshProject(project, settings, options, static_cast<int>(i) + 1, levels);
      ++totals.levels;
      totals.tiles += report.tiles;
      totals.counts = totals.counts + report.counts;
      const int levelStatus = ExitStatusOf(report);
      status = Worse(status, levelStatus);
      if (levelStatus == kExitComplete || levelStatus == kExitFailedTiles) record.Finish(project);
    } catch (const RefreshRefused& e) {
      // A level set refreshes the levels that have tiles; a project alone must have them.
      std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
      if (projects.size() == 1) return kExitRefusedInput;
    }
    // A refusal or a failed network would end the next level as well.
    if (status != kExitComplete && status != kExitFailedTiles) return end(status, false);
  }
  return end(status, true);
}

}  // namespace

int RunRefresh(const std::string& file, std::optional<int> olderThanDays, const CliOptions& options) {
  // Whole paths in the failed list, so that redownload finds the tiles from any folder.
  const std::string whole = qm::AbsolutePath(file);
  const auto projects = ProjectFilesOf(whole);
  if (const auto* reason = std::get_if<std::string>(&projects)) {
    std::fprintf(stderr, "quillmere-cli: %s\n", reason->c_str());
    return kExitRefusedInput;
  }
  RefreshSettings settings;
  try {
    settings = ReadRefreshSettings(options.configFile, options.server);
  } catch (const std::runtime_error& e) {  // an unknown server or a proxy port that is no port
    std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
    return kExitRefusedInput;
  }
  settings.olderThanDays = olderThanDays;
  settings.pauses = options.pauses;
  settings.blankPath = qm::DataFolder() + "blankimg" + qm::kPathSeparator + "blank.jpg";
  try {
    // A set is held for the whole refresh, each level by its own run.
    const qm::RunLock setLock = whole.ends_with(".qmset") ? qm::RunLock::Take(whole) : qm::RunLock();
    const bool isSet = whole.ends_with(".qmset");
    SetRefreshRecord record(isSet ? whole : "", olderThanDays);
    const std::string name = qm::ExtractFileName(whole);
    const std::string setName = isSet ? name.substr(0, name.size() - std::string_view(".qmset").size()) : "";
    return RefreshAll(std::get<std::vector<std::string>>(projects), settings, options, record, setName);
  } catch (const qm::InUseError& e) {
    std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
    return kExitRefusedInput;
  } catch (const qm::FileError& e) {
    std::fprintf(stderr, "quillmere-cli: %s\n", qm::ErrorBoxText(e.what()).c_str());
    return kExitFileError;
  }
}
