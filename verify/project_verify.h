// Verifying a downloaded project: every stored tile decoded, and the tiles that are damaged, not
// images, or missing although the download has passed them, listed in NAME_verify.ftl in the
// failed-tile list's format, so the re-download, its window and the viewer's fetch take them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "verify/tile_check.h"

struct VerifyCounts {
  int64_t sound = 0;
  int64_t missing = 0;    // not on disk, though a worker of the download has passed it
  int64_t notImages = 0;
  int64_t damaged = 0;
  int64_t Listed() const { return missing + notImages + damaged; }
  VerifyCounts& operator+=(const VerifyCounts& other);
};

struct VerifyReport {
  VerifyCounts counts;
  int64_t checked = 0;  // tiles of the range looked at (all of them unless stopped)
  int64_t total = 0;    // tiles of the range
  bool stopped = false;
  std::string listFile;  // NAME_verify.ftl, written even when empty
};

// Tiles checked so far and the range's count; false stops the check (the list then holds what
// was found so far).
using VerifyProgress = std::function<bool(int64_t checked, int64_t total)>;

// tileServer gives each listed tile its URL, as a download with that setting asks it. The project
// is locked while it is checked. Throws qm::InUseError when another run holds it,
// ProjectAreaError for a project without a usable range, ShapeError when its area file is gone or
// changed, qm::FileError when the list cannot be written or the tile folder is gone.
VerifyReport VerifyProject(const std::string& projectFile, const std::string& tileServer,
                           const VerifyProgress& progress = {});

// "checked 1,200 tiles: sound 1,190 · damaged 4 · not images 2 · missing 4 · listed in X"
std::string VerifySummaryText(const VerifyReport& report);
