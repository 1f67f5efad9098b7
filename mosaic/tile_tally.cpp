#include "mosaic/tile_tally.h"

#include <unistd.h>

#include "engine/tile_source.h"

namespace {

const char* StateName(TileState state) {
  switch (state) {
    case TileState::kMissing: return "missing";
    case TileState::kBlank: return "blank";
    case TileState::kUndecodable: return "not an image";
    case TileState::kPresent:
    case TileState::kOutside: break;
  }
  return "present";
}

}  // namespace

TileTally::TileTally(int64_t total, std::string output, const MosaicProgress& progress)
    : total_(total), output_(std::move(output)), progress_(progress) {}

void TileTally::Count(int zoom, int32_t x, int32_t y, TileState state) {
  ++done_;
  if (state != TileState::kOutside) ++report_.tiles;
  if (state != TileState::kPresent && state != TileState::kOutside) {
    (state == TileState::kMissing ? report_.missing : state == TileState::kBlank ? report_.blank : report_.undecodable)++;
    if (!list_) list_ = std::make_unique<PartialFile>(output_ + ".missing.txt");
    list_->Append(SatelliteTileFileName(zoom, x, y) + " " + StateName(state) + "\n");
  }
  if (progress_ && !progress_(done_, total_)) throw MosaicError("Cancelled.");
}

MosaicReport TileTally::Finish() {
  if (list_) {
    list_->Commit();
    report_.missingList = list_->Target();
  } else {
    ::unlink((output_ + ".missing.txt").c_str());
  }
  return report_;
}
