// Running the download controller without a window: a pumped bridge on the main thread, the
// one-second timer, the stop signals, and the exit status from how the download ended.
#include "cli/cli_commands.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "cli/console_view.h"
#include "cli/progress_report.h"
#include "cli/start_checks.h"
#include "download/redownload_run.h"
#include "engine/area_input.h"
#include "engine/project_loader.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {

std::atomic<int> stopRequests{0};

void OnStopSignal(int) { stopRequests.fetch_add(1); }

int ExitStatusOf(const DownloadController& controller, const ConsoleView& view, bool stoppedBySignal) {
  if (view.SawFileError() || controller.LastEnd() == DownloadEnd::kFileError) return kExitFileError;
  if (stoppedBySignal) return kExitStoppedBySignal;
  if (controller.LastEnd() == DownloadEnd::kRefused || controller.LastEnd() == DownloadEnd::kNetworkFailure) {
    return kExitWorkerEnded;
  }
  if (controller.FailedListed() > 0) return kExitFailedTiles;
  // Tiles left without a stop request: the workers ended before their share was done.
  return controller.LastEnd() == DownloadEnd::kComplete ? kExitComplete : kExitWorkerEnded;
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
// window. Returns whether a signal stopped it.
bool PumpToEnd(DownloadController& controller, qm::PumpedBridge& bridge, ProgressReport& report) {
  auto nextTick = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  int handledSignals = 0;
  while (controller.Running()) {
    bridge.PumpUntil([&] { return stopRequests.load() != handledSignals || std::chrono::steady_clock::now() >= nextTick; },
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
    if (std::chrono::steady_clock::now() >= nextTick) {
      nextTick += std::chrono::seconds(1);
      controller.Timer1Timer();
      if (controller.Running()) report.Tick(controller.Progress(), std::chrono::steady_clock::now());
    }
  }
  return handledSignals > 0;
}

int RunDownload(const StartInputs& inputs, const CliOptions& options) {
  if (const auto refusal = StartRefusal(inputs, options.configFile)) {
    std::fprintf(stderr, "quillmere-cli: %s\n", refusal->c_str());
    return kExitRefusedInput;
  }
  ConsoleView view(stopRequests);
  qm::PumpedBridge bridge;
  DownloadController controller(view, bridge, options.configFile, options.pauses);
  ProgressReport report(stderr, ::isatty(STDERR_FILENO) != 0 ? STDERR_FILENO : -1, options.quiet);
  ShutDownWhenThrown guard{controller, bridge};  // last, so the report outlives its messages
  controller.BitBtn1Click(inputs);
  if (!controller.Running()) {
    if (view.SawFileError()) return kExitFileError;
    return stopRequests.load() > 0 ? kExitStoppedBySignal : kExitRefusedInput;  // a signal cancelled the list
  }

  view.SetBeforeMessage([&report] { report.Clear(); });
  const bool stoppedBySignal = PumpToEnd(controller, bridge, report);
  report.Clear();
  view.SetBeforeMessage(nullptr);
  if (!options.quiet) std::fprintf(stderr, "%s\n", SummaryText(controller.Summary()).c_str());
  return ExitStatusOf(controller, view, stoppedBySignal);
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

int RunStart(const StartInputs& inputs, const CliOptions& options) { return RunDownload(inputs, options); }

int RunResume(const std::string& projectFile, const CliOptions& options) {
  if (!qm::FileExists(projectFile)) {
    std::fprintf(stderr, "quillmere-cli: %s\n", qm::CannotOpenFileText(projectFile).c_str());
    return kExitRefusedInput;
  }
  // A project named without its folder lies in the current folder; its fields name that folder.
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(projectFile, error);
  const ProjectFields fields = ReadProjectFields(error ? projectFile : absolute.lexically_normal().string());
  const StartInputs inputs{fields.LeftLongitude, fields.RightLongitude, fields.TopLatitude, fields.BottomLatitude,
                           std::to_string(fields.Zoom), fields.Folder, fields.TaskName};
  return RunDownload(inputs, options);
}

int RunRedownload(const std::string& listFile, const std::string& folder) {
  std::error_code error;
  const std::string absoluteList = std::filesystem::absolute(listFile, error).string();
  if (::chdir(folder.c_str()) != 0) {
    std::fprintf(stderr, "quillmere-cli: Cannot open folder %s\n", folder.c_str());
    return kExitRefusedInput;
  }
  PrintedEntries view;
  RedownloadTally tally;
  try {
    tally = RunRedownload(absoluteList, view, std::nullopt, RedownloadRules{"."});
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

int RunEstimate(const StartInputs& in) {
  const AreaEstimateOrReason area =
      EstimateArea(in.LeftLongitude, in.RightLongitude, in.TopLatitude, in.BottomLatitude, in.Zoom);
  if (!area.estimate) {
    std::fprintf(stderr, "quillmere-cli: %s\n", area.reason.c_str());
    return kExitRefusedInput;
  }
  const AreaEstimate& e = *area.estimate;
  std::printf("%s\ncolumns %lld to %lld, rows %lld to %lld\n", EstimateText(e).c_str(), static_cast<long long>(e.minX),
              static_cast<long long>(e.maxX), static_cast<long long>(e.minY), static_cast<long long>(e.maxY));
  return kExitComplete;
}
