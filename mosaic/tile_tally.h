// Counts the tiles of a run, lists those that had to be filled in <output>.missing.txt as they
// come (memory stays the same however many there are), and reports progress.
#pragma once

#include <memory>
#include <string>

#include "mosaic/mosaic_writer.h"
#include "mosaic/partial_file.h"
#include "mosaic/tile_pixels.h"

class TileTally {
 public:
  // total: the tiles of every level that will be counted, those outside a shaped area too; the
  // report counts only the tiles inside.
  TileTally(int64_t total, std::string output, const MosaicProgress& progress);
  // Throws MosaicError "Cancelled." when progress asks to stop.
  void Count(int zoom, int32_t x, int32_t y, TileState state);
  // Puts the list in place; an older list of the same output goes when nothing was filled.
  MosaicReport Finish();

 private:
  int64_t total_;
  int64_t done_ = 0;
  std::string output_;
  const MosaicProgress& progress_;
  MosaicReport report_;
  std::unique_ptr<PartialFile> list_;
};
