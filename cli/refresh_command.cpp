// The refresh of a project or level set on the command line: progress, summaries, exit status.
#include "cli/refresh_command.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <set>
#include <sstream>
#include <utility>
#include <variant>
#include <vector>

#include "download/refresh_run.h"
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
  explicit RefreshProgressLine(bool quiet) : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) != 0) {}
  // Called about once a second.
  void Show(const RefreshRun& run) {
    if (quiet_ || (!terminal_ && ++ticks_ % kPlainLineTicks != 0)) return;
    const RefreshCounts c = run.Counts();
    std::fprintf(stderr, "%s%s of %s tiles · unchanged %s · changed %s · kept %s · failed %s%s", terminal_ ? "\r\033[K" : "",
                 GroupedCount(c.Done()).c_str(), GroupedCount(run.Tiles()).c_str(), GroupedCount(c.unchanged).c_str(),
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
  int ticks_ = 0;
};

// Refreshes one project; a stop signal stops the workers after their tile, a second aborts them.
int RefreshProject(const std::string& project, const RefreshSettings& settings, const CliOptions& options) {
  RefreshRun run(project, settings);
  if (!options.quiet && run.Continues()) std::fprintf(stderr, "%s: continuing the refresh stopped before\n", project.c_str());
  RefreshProgressLine progress(options.quiet);
  const RefreshReport report = run.Run([&] {
    if (StopSignalsReceived() >= 2) run.Abort();
    if (StopSignalsReceived() >= 1) run.Stop();
    progress.Show(run);
  });
  progress.Clear();
  if (!options.quiet) std::fprintf(stderr, "%s\n", RefreshSummaryText(report).c_str());
  return ExitStatusOf(report);
}

// A level set's refresh, kept in the set file's [REFRESH] section: the levels it has finished, so
// that a refresh stopped in a later level does not ask the finished ones again.
class SetRefreshRecord {
 public:
  SetRefreshRecord(std::string setFile, const std::optional<int>& olderThanDays)
      : setFile_(std::move(setFile)), olderThan_(olderThanDays ? std::to_string(*olderThanDays) : "") {
    if (setFile_.empty()) return;
    const qm::IniFile set(setFile_);
    if (set.ReadString(kRefreshSection, "OlderThan", "-") != olderThan_) return;
    std::istringstream levels(set.ReadString(kRefreshSection, "Finished", ""));
    for (std::string level; std::getline(levels, level, ',');) finished_.insert(level);
  }
  bool Finished(const std::string& project) const { return finished_.count(qm::ExtractFileName(project)) > 0; }
  void Finish(const std::string& project) {
    if (setFile_.empty()) return;
    finished_.insert(qm::ExtractFileName(project));
    std::string levels;
    for (const std::string& level : finished_) levels += (levels.empty() ? "" : ",") + level;
    qm::IniFile(setFile_).WriteStrings(kRefreshSection, {{"OlderThan", olderThan_}, {"Finished", levels}});
  }
  // The whole set is done: the next refresh begins anew.
  void Clear() {
    if (!setFile_.empty()) qm::IniFile(setFile_).WriteStrings(kRefreshSection, {{"OlderThan", "-"}, {"Finished", ""}});
  }

 private:
  std::string setFile_;
  std::string olderThan_;
  std::set<std::string> finished_;
};

int RefreshAll(const std::vector<std::string>& projects, const RefreshSettings& settings, const CliOptions& options,
               SetRefreshRecord& record) {
  int status = kExitComplete;
  int refreshed = 0;
  for (const std::string& project : projects) {
    if (StopSignalsReceived() > 0) return Worse(status, kExitStoppedBySignal);
    if (record.Finished(project)) {
      if (!options.quiet) std::fprintf(stderr, "%s: refreshed before this run\n", project.c_str());
      ++refreshed;
      continue;
    }
    try {
      const int levelStatus = RefreshProject(project, settings, options);
      status = Worse(status, levelStatus);
      if (levelStatus == kExitComplete || levelStatus == kExitFailedTiles) record.Finish(project);
      ++refreshed;
    } catch (const RefreshRefused& e) {
      // A level set refreshes the levels that have tiles; a project alone must have them.
      std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
      if (projects.size() == 1) return kExitRefusedInput;
    }
    // A refusal or a failed network would end the next level as well.
    if (status != kExitComplete && status != kExitFailedTiles) return status;
  }
  if (refreshed > 0) record.Clear();
  return refreshed == 0 ? kExitRefusedInput : status;
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
    SetRefreshRecord record(whole.ends_with(".qmset") ? whole : "", olderThanDays);
    return RefreshAll(std::get<std::vector<std::string>>(projects), settings, options, record);
  } catch (const qm::InUseError& e) {
    std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
    return kExitRefusedInput;
  } catch (const qm::FileError& e) {
    std::fprintf(stderr, "quillmere-cli: %s\n", qm::ErrorBoxText(e.what()).c_str());
    return kExitFileError;
  }
}
