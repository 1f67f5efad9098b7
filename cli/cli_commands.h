// The commands of quillmere-cli, each returning the program's exit status.
#pragma once

#include <memory>
#include <string>

#include "download/download_controller.h"
#include "download/pauses.h"

// Exit statuses: what a script can tell apart.
enum ExitStatus {
  kExitComplete = 0,       // every tile of the task stored (or a command that did its job)
  kExitRefusedInput = 1,   // input refused or task not built
  kExitStoppedBySignal = 2,
  kExitFailedTiles = 3,    // ended with lines added to the failed-tile list
  kExitWorkerEnded = 4,    // a worker ended early: refused by the server or a network failure
  kExitFileError = 5,      // also when the program cannot go on: memory ran out (a file too large to read)
};

struct CliOptions {
  std::string configFile;  // the settings file (ini/config.ini)
  bool quiet = false;      // no progress on standard error
  DownloadPauses pauses;   // as the window uses them
  std::string server;      // a saved server to use; empty: the one the settings choose
  std::shared_ptr<const TaskArea> area;  // only the tiles of this shape; null: the rectangle
};

// SIGINT and SIGTERM: the first stops like the Stop button, the second aborts like closing.
// SIGWINCH: the progress line follows the terminal's width.
void InstallSignals();
// Stop signals received so far: the first stops, a second aborts.
int StopSignalsReceived();

// The zoom "Z1-Z2" (Z1 below Z2) starts or continues the level set of the area.
int RunStart(StartInputs inputs, const CliOptions& options);
// What "Open task ..." and Start do; a .qmset continues its level set.
int RunResume(const std::string& projectFile, CliOptions options);
// The re-download of a failed-tile list, its entries on standard output; DIR is the working
// folder, so paths in the list that are relative land there, and only tile files inside it are
// written. Exit status 3 when a line failed or was refused, 4 when the server refused us.
int RunRedownload(const std::string& listFile, const std::string& folder, const CliOptions& options);
// Figures of the area, nothing written; over a zoom range, those of every level and the total.
int RunEstimate(StartInputs inputs, const TaskArea* area = nullptr);
// verify is quillmere-verify's (beside this program): it decodes images, and its libraries are
// loaded only when it runs. Returns only when that program cannot be started.
int HandOverToVerify(const std::string& file, const CliOptions& options);
