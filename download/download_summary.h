// The status after a download has ended: how it ended, what this run did beside what earlier
// runs had done, where the failed tiles are listed, and a hint when the answers suggest that the
// tile server setting is wrong.
#pragma once

#include <cstdint>
#include <string>

#include "download/download_progress.h"

struct RunSummary {
  DownloadEnd end = DownloadEnd::kComplete;
  int64_t done = 0;        // tiles of the task finished, earlier runs included
  int64_t total = 0;
  int64_t doneBefore = 0;  // finished by earlier runs of a continued task
  TileCounts run;          // this run; run.failed counts the tiles it added to the failed list
  double seconds = 0;
  std::string failedFile;
};

RunSummary SummaryOf(DownloadEnd end, const DownloadProgress& progress, int64_t failedListed,
                     const std::string& failedFile);

// "Download complete: 840 of 840 tiles: 240 before this run; this run stored 599 · blank 1 ·
// failed 0 in 00:01:15"
std::string SummaryText(const RunSummary& summary);

// The hint, or nothing, when nearly every tile was not found or stored answers are not images.
std::string TileServerHint(const TileCounts& run);
