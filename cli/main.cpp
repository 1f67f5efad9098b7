// quillmere-cli: the download without a window, on the same controller the window drives.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "download/area_program.h"
#include "cli/cli_commands.h"
#include "cli/refresh_command.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"
#include "platform/text_format.h"
#include "platform/http_client.h"

namespace {

// The rectangle's four edges, or a shape whose bounding box gives them.
struct AreaChoice {
  std::string shapeFile;
  double bufferMetres = 0;
  std::vector<CLI::Option*> edges;
};

void AddArea(CLI::App& command, StartInputs& in, AreaChoice& choice) {
  choice.edges = {command.add_option("--left", in.LeftLongitude, "left longitude, as typed in the window"),
                  command.add_option("--right", in.RightLongitude, "right longitude"),
                  command.add_option("--top", in.TopLatitude, "top latitude"),
                  command.add_option("--bottom", in.BottomLatitude, "bottom latitude")};
  CLI::Option* shape = command.add_option("--area", choice.shapeFile,
                                          "only the tiles of the shape in this vector file (GeoJSON, KML, GPX, "
                                          "Shapefile, GeoPackage...), instead of the four edges");
  for (CLI::Option* edge : choice.edges) edge->excludes(shape);
  command.add_option("--buffer", choice.bufferMetres, "metres by which the shape's lines and points are widened")
      ->check(CLI::Validator(
          [](std::string& text) {
            const std::optional<double> metres = qm::StrictNumberFromText(text);
            return metres && *metres >= 0 && *metres <= 100000 ? std::string()
                                                             : "the buffer should be 0 to 100,000 metres";
          },
          "METRES"))
      ->needs(shape);
  command.add_option("--zoom", in.Zoom, "zoom level, or levels Z1-Z2 (one task per level, coarsest first)")
      ->required();
}

// Reads the shape into options and the edges into inputs; false, having said why, when it cannot.
bool TakeArea(const AreaChoice& choice, StartInputs& inputs, CliOptions& options) {
  if (choice.shapeFile.empty()) {
    for (CLI::Option* edge : choice.edges) {
      if (edge->count() == 0) {
        std::fprintf(stderr, "quillmere-cli: %s is required (or --area FILE)\n", edge->get_name().c_str());
        return false;
      }
    }
    return true;
  }
  try {
    options.area = AreaFromFile(choice.shapeFile, choice.bufferMetres, inputs);
    return true;
  } catch (const AreaRefused& e) {
    std::fprintf(stderr, "quillmere-cli: %s\n", e.what());
    return false;
  }
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
  AreaChoice startArea, estimateArea;
  AddArea(*start, inputs, startArea);
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
  CLI::App* refresh = app.add_subcommand("refresh", "ask the server again for the stored tiles; replace those it changed");
  refresh->add_option("project", project, "the task's .qmtp file, or a level set's .qmset file")->required();
  std::optional<int> olderThanDays;
  refresh->add_option("--older-than", olderThanDays, "only tiles whose file time is older than DAYS days")
      ->check(CLI::Range(0, 36500));
  AddSettings(*refresh, options);
  CLI::App* estimate = app.add_subcommand("estimate", "tile count, range, time and tile list size of an area");
  AddArea(*estimate, inputs, estimateArea);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitRefusedInput;
  }

  if (estimate->parsed()) {
    return TakeArea(estimateArea, inputs, options) ? RunEstimate(inputs, options.area.get()) : kExitRefusedInput;
  }
  if (start->parsed() && !TakeArea(startArea, inputs, options)) return kExitRefusedInput;
  if (verify->parsed()) return HandOverToVerify(project, options);
  qm::HttpGlobalInit();
  if (redownload->parsed()) return RunRedownload(list, folder, options);
  InstallSignals();
  if (refresh->parsed()) return RunRefresh(project, olderThanDays, options);
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
