// Running the download controller without a window: a pumped bridge on the main thread, the
// one-second timer, the stop signals, and the exit status from how the download ended.
#include "cli/cli_commands.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <variant>

#include "download/area_program.h"
#include "cli/console_view.h"
#include "cli/progress_report.h"
#include "cli/start_checks.h"
#include "download/level_set_run.h"
#include "download/redownload_run.h"
#include "engine/Unitclasstask.h"
#include "engine/area_input.h"
#include "engine/level_set.h"
#include "engine/list_owner.h"
#include "engine/saved_servers.h"
#include "engine/project_loader.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/run_lock.h"
#include "platform/text_format.h"

namespace {

std::atomic<int> stopRequests{0};

void OnStopSignal(int) { stopRequests.fetch_add(1); }

// How a download or a level set ended, as the exit status a script tells apart.
int ExitStatusOf(std::optional<DownloadEnd> end, int64_t failedListed, bool sawFileError, bool stoppedBySignal) {
  if (sawFileError || end == DownloadEnd::kFileError) return kExitFileError;
  if (stoppedBySignal) return kExitStoppedBySignal;
  if (end == DownloadEnd::kRefused || end == DownloadEnd::kNetworkFailure) return kExitWorkerEnded;
  if (failedListed > 0) return kExitFailedTiles;
  // Tiles left without a stop request: the workers ended before their share was done.
  return end == DownloadEnd::kComplete ? kExitComplete : kExitWorkerEnded;
}

// An exception leaving the download must not leave workers waiting for calls nobody pumps.
struct ShutDownWhenThrown {
  DownloadController& controller;
  qm::PumpedBridge& bridge;
  ~ShutDownWhenThrown() {
    if (std::uncaught_exceptions() == 0) return;
    try {
      controller.ShutDown([this] { bridge.Pump(); });
    } catch (...) {
      // The exception on its way out is the one to report.
    }
  }
};

// Ticks the controller once a second while it pumps the workers' calls, until the download
// ends: the first stop signal stops like the Stop button, the second aborts like closing the
// window. Once the last worker has ended, the tick that ends the download comes at once rather
// than up to a second later (a level set of many one-tile levels would wait a second per level).
// onTick follows every tick of a download still running. Returns whether a signal stopped it.
bool PumpToEnd(DownloadController& controller, qm::PumpedBridge& bridge, ProgressReport& report,
               const std::function<void()>& onTick) {
  auto nextTick = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  int handledSignals = 0;
  while (controller.Running()) {
    bridge.PumpUntil(
        [&] {
          return stopRequests.load() != handledSignals || std::chrono::steady_clock::now() >= nextTick ||
                 controller.WorkersEnded();
        },
        std::chrono::seconds(1));
    if (stopRequests.load() >= 2) {
      report.Clear();
      controller.ShutDown([&] { bridge.Pump(); });
      return true;
    }
    if (stopRequests.load() == 1 && handledSignals == 0) {
      handledSignals = 1;
      controller.BitBtn1Click({});  // Stop: the workers finish their tile
    }
    if (std::chrono::steady_clock::now() >= nextTick || controller.WorkersEnded()) {
      nextTick += std::chrono::seconds(1);
      controller.Timer1Timer();
      if (controller.Running()) onTick();
    }
  }
  return handledSignals > 0;
}

// The controller without a window, and what a command line run of it needs around it.
struct Session {
  explicit Session(const CliOptions& options)
      : controller(view, bridge, options.configFile, options.pauses),
        report(stderr, ::isatty(STDERR_FILENO) != 0 ? STDERR_FILENO : -1, options.quiet) {
    controller.UseServer(options.server);
    controller.UseArea(options.area);
  }

  // Runs the download started to its end with the progress shown; whether a signal stopped it.
  bool PumpToEnd(const std::function<void()>& onTick) {
    view.SetBeforeMessage([this] { report.Clear(); });
    const bool stoppedBySignal = ::PumpToEnd(controller, bridge, report, onTick);
    report.Clear();
    view.SetBeforeMessage(nullptr);
    return stoppedBySignal;
  }
  // Nothing runs after Start: refused input, a file error, or a signal that cancelled the list.
  int NotStartedStatus() const {
    if (view.SawFileError()) return kExitFileError;
    return stopRequests.load() > 0 ? kExitStoppedBySignal : kExitRefusedInput;
  }

  ConsoleView view{stopRequests};
  qm::PumpedBridge bridge;
  DownloadController controller;
  ProgressReport report;
  ShutDownWhenThrown guard{controller, bridge};  // last, so the report outlives its messages
};

bool Refused(const StartInputs& inputs, const CliOptions& options) {
  const auto refusal = StartRefusal(inputs, options.configFile);
  if (refusal) std::fprintf(stderr, "quillmere-cli: %s\n", refusal->c_str());
  return refusal.has_value();
}

int RunDownload(const StartInputs& inputs, const CliOptions& options) {
  if (Refused(inputs, options)) return kExitRefusedInput;
  Session session(options);
  DownloadController& controller = session.controller;
  controller.BitBtn1Click(inputs);
  if (!controller.Running()) return session.NotStartedStatus();
  const bool stoppedBySignal =
      session.PumpToEnd([&] { session.report.Tick(controller.Progress(), std::chrono::steady_clock::now()); });
  if (!options.quiet) std::fprintf(stderr, "%s\n", SummaryText(controller.Summary()).c_str());
  return ExitStatusOf(controller.LastEnd(), controller.FailedListed(), session.view.SawFileError(), stoppedBySignal);
}

// The levels one after another until the set ends; a stop signal ends it with the level in hand.
int RunLevels(const std::function<LevelSetRun::Outcome(LevelSetRun&)>& begin, const CliOptions& options) {
  Session session(options);
  LevelSetRun run(session.controller, session.view);
  const LevelSetRun::Outcome outcome = begin(run);
  if (outcome == LevelSetRun::Outcome::kRefused) return session.NotStartedStatus();
  bool stoppedBySignal = false;
  bool running = outcome == LevelSetRun::Outcome::kRunning;
  while (running) {
    session.report.SetPrefix(run.LevelText());
    stoppedBySignal = session.PumpToEnd([&] {
      run.Tick();
      session.report.Tick(run.Progress(), std::chrono::steady_clock::now());
    }) || stopRequests.load() > 0;
    running = run.LevelEnded(stoppedBySignal);
  }
  stoppedBySignal = stoppedBySignal || stopRequests.load() > 0;  // also one that cancelled a level's list
  const ZoomRange zooms = run.Set().zooms;
  if (!options.quiet) {
    std::fprintf(stderr, "Zoom levels %d to %d: %s\n", zooms.first, zooms.last, SummaryText(run.Summary()).c_str());
  }
  return ExitStatusOf(run.End(), run.FailedListed(), session.view.SawFileError(), stoppedBySignal);
}

int RunLevelSet(const StartInputs& inputs, ZoomRange zooms, const CliOptions& options) {
  StartInputs firstLevel = inputs;
  firstLevel.Zoom = std::to_string(zooms.first);
  if (Refused(firstLevel, options)) return kExitRefusedInput;
  return RunLevels([&](LevelSetRun& run) { return run.Start(inputs, zooms); }, options);
}

// A zoom text of two levels or more; "9-9" becomes the one level "9"; a range that cannot be is
// refused with its reason.
struct ZoomChoice {
  std::optional<ZoomRange> levels;
  bool refused = false;
};

ZoomChoice LevelsOf(StartInputs& in) {
  if (!IsZoomRangeText(in.Zoom)) return {};
  const auto zooms = ParseZoomRange(in.Zoom);
  if (const auto* reason = std::get_if<std::string>(&zooms)) {
    std::fprintf(stderr, "quillmere-cli: %s\n", reason->c_str());
    return {std::nullopt, true};
  }
  const ZoomRange range = std::get<ZoomRange>(zooms);
  if (range.first < range.last) return {range};
  in.Zoom = std::to_string(range.first);
  return {};
}

class PrintedEntries : public RedownloadView {
 public:
  void AddEntry(const std::string& entry) override { std::printf("%s\n", entry.c_str()); }
  void ProcessEvents() override { std::fflush(stdout); }
};

}  // namespace

void InstallSignals() {
  InstallResizeSignal();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int StopSignalsReceived() { return stopRequests.load(); }

int RunStart(StartInputs inputs, const CliOptions& options) {
  const ZoomChoice choice = LevelsOf(inputs);
  if (choice.refused) return kExitRefusedInput;
  return choice.levels ? RunLevelSet(inputs, *choice.levels, options) : RunDownload(inputs, options);
}

int RunResume(const std::string& projectFile, CliOptions options) {
  if (!qm::FileExists(projectFile)) {
    std::fprintf(stderr, "quillmere-cli: %s\n", qm::CannotOpenFileText(projectFile).c_str());
    return kExitRefusedInput;
  }
  try {
    options.area = AreaOfProject(projectFile);
  } catch (const AreaRefused& e) {
    std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
    return kExitRefusedInput;
  }
  if (TaskExtension(projectFile) == ".qmset") {
    const std::string setFile = qm::AbsolutePath(projectFile);
    return RunLevels([&](LevelSetRun& run) { return run.Resume(setFile); }, options);
  }
  const ProjectFields fields = ReadProjectFields(qm::AbsolutePath(projectFile));
  const StartInputs inputs{fields.LeftLongitude, fields.RightLongitude, fields.TopLatitude, fields.BottomLatitude,
                           std::to_string(fields.Zoom), fields.Folder, fields.TaskName};
  return RunDownload(inputs, options);
}

int RunRedownload(const std::string& listFile, const std::string& folder, const CliOptions& options) {
  const std::string absoluteList = qm::AbsolutePath(listFile);
  ServerInUse server;
  try {
    server = ReadServerInUse(options.configFile, options.server);
  } catch (const ServerRefused& e) {
    std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
    return kExitRefusedInput;
  }
  // The project the list belongs to is held as a download of it would hold it.
  std::vector<qm::RunLock> locks;
  try {
    for (const std::string& project : ProjectsOfList(absoluteList)) locks.push_back(qm::RunLock::Take(project));
  } catch (const qm::InUseError& e) {
    std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
    return kExitRefusedInput;
  }
  if (::chdir(folder.c_str()) != 0) {
    std::fprintf(stderr, "quillmere-cli: Cannot open folder %s\n", folder.c_str());
    return kExitRefusedInput;
  }
  PrintedEntries view;
  RedownloadTally tally;
  try {
    tally = RunRedownload(absoluteList, view, std::nullopt, RedownloadRules{".", server.headers});
  } catch (const qm::FileError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "quillmere-cli: %s\n", qm::ErrorBoxText(e.what()).c_str());
    return kExitFileError;
  }
  std::fflush(stdout);
  if (tally.failed + tally.refused == 0) return kExitComplete;
  std::fprintf(stderr, "quillmere-cli: %lld stored, %lld failed, %lld refused%s\n",
               static_cast<long long>(tally.stored), static_cast<long long>(tally.failed),
               static_cast<long long>(tally.refused), tally.serverRefused ? " (the server refused us: run ended)" : "");
  return tally.serverRefused ? kExitWorkerEnded : kExitFailedTiles;
}

namespace {

std::string RangeText(const AreaEstimate& e) {
  return "columns " + std::to_string(e.minX) + " to " + std::to_string(e.maxX) + ", rows " + std::to_string(e.minY) +
         " to " + std::to_string(e.maxY);
}

int EstimateLevels(const StartInputs& in, ZoomRange zooms, const TaskArea* area) {
  const LevelEstimates levels =
      EstimateLevels(in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude, zooms, area);
  if (!levels.reason.empty()) {
    std::fprintf(stderr, "quillmere-cli: %s\n", levels.reason.c_str());
    return kExitRefusedInput;
  }
  for (size_t i = 0; i < levels.levels.size(); ++i) {
    const AreaEstimate& e = levels.levels[i];
    std::printf("zoom %d: %s · %s\n", zooms.first + static_cast<int>(i), EstimateText(e).c_str(), RangeText(e).c_str());
  }
  std::printf("%s\n", LevelsTotalText(levels.levels).c_str());
  return kExitComplete;
}

}  // namespace

int RunEstimate(StartInputs in, const TaskArea* shape) {
  const ZoomChoice choice = LevelsOf(in);
  if (choice.refused) return kExitRefusedInput;
  if (choice.levels) return EstimateLevels(in, *choice.levels, shape);
  AreaEstimateOrReason area =
      EstimateArea(in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude, in.Zoom);
  if (area.estimate && shape) {
    try {
      area.estimate = EstimateInArea(*area.estimate, *shape, *qm::IntegerFromText(in.Zoom));
    } catch (const TaskError& e) {
      area = {std::nullopt, e.what()};
    }
  }
  if (!area.estimate) {
    std::fprintf(stderr, "quillmere-cli: %s\n", area.reason.c_str());
    return kExitRefusedInput;
  }
  std::printf("%s\n%s\n", EstimateText(*area.estimate).c_str(), RangeText(*area.estimate).c_str());
  return kExitComplete;
}

int HandOverToVerify(const std::string& file, const CliOptions& options) {
  const std::string program = qm::ProgramFolder() + "quillmere-verify";
  std::vector<std::string> args = {program, file, "--config", options.configFile};
  if (!options.server.empty()) args.insert(args.end(), {"--server", options.server});
  if (options.quiet) args.push_back("--quiet");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  ::execv(program.c_str(), argv.data());
  std::fprintf(stderr, "quillmere-cli: verify needs %s, which cannot be started (%s).\n", program.c_str(),
               std::strerror(errno));
  return kExitFileError;
}
