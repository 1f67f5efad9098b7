// quillmere-cli: the download without a window, on the same controller the window drives.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>

#include "cli/cli_commands.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"
#include "platform/http_client.h"

namespace {

void AddArea(CLI::App& command, StartInputs& in) {
  command.add_option("--left", in.LeftLongitude, "left longitude, as typed in the window")->required();
  command.add_option("--right", in.RightLongitude, "right longitude")->required();
  command.add_option("--top", in.TopLatitude, "top latitude")->required();
  command.add_option("--bottom", in.BottomLatitude, "bottom latitude")->required();
  command.add_option("--zoom", in.Zoom, "zoom level, or levels Z1-Z2 (one task per level, coarsest first)")
      ->required();
}

void AddSettings(CLI::App& command, CliOptions& options) {
  command.add_option("--config", options.configFile, "settings file")->capture_default_str();
  command.add_option("--server", options.server, "a saved server of the settings to download from");
  command.add_flag("--quiet", options.quiet, "print errors only: no progress, no summary");
}

int Run(int argc, char* argv[]) {
  CLI::App app{"Downloads the map tiles of an area without a window (quillmere-cli COMMAND --help)."};
  app.require_subcommand(1);
  CliOptions options;
  options.configFile = qm::ConfigFilePath(qm::DataFolder());
  StartInputs inputs;
  inputs.TaskName = "newtask.qmtp";
  std::string project, list, folder;

  CLI::App* start = app.add_subcommand("start", "start (or continue) the download of an area");
  AddArea(*start, inputs);
  start->add_option("--folder", inputs.Folder, "folder of the task's files")->required();
  start->add_option("--name", inputs.TaskName, "task name")->capture_default_str();
  AddSettings(*start, options);
  CLI::App* resume = app.add_subcommand("resume", "continue the download of a project or level set file");
  resume->add_option("project", project, "the task's .qmtp file, or a level set's .qmset file")->required();
  AddSettings(*resume, options);
  CLI::App* redownload = app.add_subcommand("redownload", "fetch the tiles of a failed-tile list again");
  redownload->add_option("list", list, "the task's _failed.ftl file")->required();
  redownload->add_option("--folder", folder, "working folder: only tile files inside it are written")
      ->required()
      ->check(CLI::ExistingDirectory);
  redownload->add_option("--config", options.configFile, "settings file (its saved server's headers)")
      ->capture_default_str();
  redownload->add_option("--server", options.server, "a saved server whose headers the requests carry");
  CLI::App* verify = app.add_subcommand("verify", "decode every stored tile; list the damaged ones in NAME_verify.ftl");
  verify->add_option("project", project, "the task's .qmtp file, or a level set's .qmset file")->required();
  AddSettings(*verify, options);
  CLI::App* estimate = app.add_subcommand("estimate", "tile count, range, time and tile list size of an area");
  AddArea(*estimate, inputs);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitRefusedInput;
  }

  if (estimate->parsed()) return RunEstimate(inputs);
  if (verify->parsed()) return HandOverToVerify(project, options);
  qm::HttpGlobalInit();
  if (redownload->parsed()) return RunRedownload(list, folder, options);
  InstallSignals();
  return start->parsed() ? RunStart(inputs, options) : RunResume(project, options);
}

constexpr const char* kOutOfMemory = "Out of memory: a file may be too large to read.";

int Failed(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "quillmere-cli: %s\n", text.c_str());
  return kExitFileError;
}

}  // namespace

// Whatever goes wrong ends with a sentence and a status, never with an abort.
int main(int argc, char* argv[]) {
  try {
    return Run(argc, argv);
  } catch (const qm::FileError& e) {
    return Failed(qm::ErrorBoxText(e.what()));
  } catch (const std::bad_alloc&) {
    return Failed(kOutOfMemory);
  } catch (const std::length_error&) {
    return Failed(kOutOfMemory);
  } catch (const std::exception& e) {
    return Failed(std::string("Stopped by an unexpected error: ") + e.what());
  }
}
