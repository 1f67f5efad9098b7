// mapcombiner: one georeferenced map or tile package from a downloaded area or level set. With a
// project and --output it runs without a window (progress on standard error); without arguments
// it opens its window.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <new>

#include <QApplication>

#include "companions/file_dialog_columns.h"
#include "companions/mapcombiner_window.h"
#include "mosaic/mosaic_source.h"
#include "mosaic/mosaic_writer.h"
#include "mosaic/output_check.h"
#include "mosaic/partial_file.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"

namespace {

std::atomic<bool> stopRequested{false};

// Ctrl-C or a termination request cancels the run, so its partial files are removed; a file size
// limit makes writes fail (and the run say so) instead of killing the program.
void HandleSignals() {
  struct sigaction stop {};
  stop.sa_handler = [](int) { stopRequested = true; };
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
}

// The command line's choices.
struct Choices {
  std::string project, output, format = "gtiff", fill = "transparent", compress = "deflate";
  int lowerZoom = -1;
};

int Combine(const Choices& choices) {
  const std::string& output = choices.output;
  const std::string& fill = choices.fill;
  MosaicOptions options;
  const auto chosen = MosaicFormatNamed(choices.format);
  if (!chosen) {
    std::fprintf(stderr, "mapcombiner: unknown format \"%s\": use gtiff, cog, vrt, mbtiles, gpkg, sqlitedb, png or jpeg.\n",
                 choices.format.c_str());
    return 1;
  }
  options.format = *chosen;
  const auto compression = TiffCompressionNamed(choices.compress);
  if (!compression) {
    std::fprintf(stderr, "mapcombiner: --compress takes deflate, jpeg or webp, not \"%s\".\n", choices.compress.c_str());
    return 1;
  }
  options.compression = *compression;
  options.lowerZoom = choices.lowerZoom;
  if (!ParseFill(fill, options)) {
    std::fprintf(stderr, "mapcombiner: --fill takes transparent or a colour as #RRGGBB, not \"%s\".\n", fill.c_str());
    return 1;
  }
  options.blankTileFile = qm::DataFolder() + "blankimg" + qm::kPathSeparator + "blank.jpg";
  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  try {
    const MosaicLevels levels = ReadMosaicLevels(choices.project);
    CheckMosaicOutput(levels, output, options);
    for (const LeftoverPartial& leftover : ClearLeftoverPartials(qm::ExtractFilePath(output))) {
      std::fprintf(stderr, "mapcombiner: %s\n", LeftoverText(leftover).c_str());
    }
    HandleSignals();
    int lastPercent = -1;
    const MosaicReport report = WriteMosaic(levels, output, options, [&](int64_t done, int64_t total) {
      const int percent = static_cast<int>(done * 100 / total);
      // On a terminal each percent rewrites the line; elsewhere a line every ten percent.
      const int step = terminal ? percent : percent / 10;
      if (step != lastPercent) {
        std::fprintf(stderr, terminal ? "\r%d%% of %lld tiles" : "%d%% of %lld tiles\n", percent,
                     static_cast<long long>(total));
        lastPercent = step;
      }
      return !stopRequested;
    });
    if (terminal) std::fputc('\n', stderr);
    const std::string listed = report.missingList.empty() ? "" : " Listed in " + report.missingList + ".";
    std::fprintf(stderr, "%s: %s%s\n", output.c_str(), MosaicSummaryText(report).c_str(), listed.c_str());
    return 0;
  } catch (const MosaicError& e) {
    std::fprintf(stderr, "\nmapcombiner: %s\n", e.what());
    return stopRequested ? 2 : 1;
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 1) {
    QApplication application(argc, argv);
    FileDialogColumns columns;
    application.installEventFilter(&columns);
    MapCombinerWindow window(qm::DataFolder());
    window.show();
    return QApplication::exec();
  }
  CLI::App app{"Joins the tiles of a downloaded area into one georeferenced map (Web Mercator, EPSG:3857)."};
  Choices choices;
  app.add_option("project", choices.project, "the task's .qmtp file, or a level set's .qmset")->required();
  app.add_option("--output", choices.output, "the map file to write")->required();
  app.add_option("--format", choices.format, "gtiff, cog, vrt, mbtiles, gpkg, sqlitedb, png or jpeg")
      ->capture_default_str();
  app.add_option("--lower-zooms", choices.lowerZoom,
                 "mbtiles, gpkg, sqlitedb: add the levels from this zoom up to the coarsest downloaded one")
      ->check(CLI::Range(0, 30));
  app.add_option("--compress", choices.compress, "gtiff, cog: deflate, jpeg or webp")->capture_default_str();
  app.add_option("--fill", choices.fill, "transparent or #RRGGBB for missing tiles")->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  const std::string& output = choices.output;
  try {
    return Combine(choices);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "\nmapcombiner: out of memory; nothing was written to %s.\n", output.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "\nmapcombiner: %s\n", e.what());
  }
  return 1;
}
