// What one stored tile file is: a sound image, missing, not an image at all, or an image that
// does not decode cleanly to a tile (cut short, corrupt, or not 256 x 256 pixels).
#pragma once

#include <string>

enum class TileCheck { kSound, kMissing, kNotImage, kDamaged };

TileCheck CheckTileFile(const std::string& path);
// The same of a tile's bytes (kMissing is never the answer).
TileCheck CheckTileBytes(const std::string& bytes);

// Judges the tiles sent on in and answers on out, as TileJudgeProgram asks, until in ends.
// Returns false when in or out failed first.
bool ServeTileJudgements(int in, int out);

// "sound", "missing", "not an image", "damaged"
const char* TileCheckText(TileCheck check);
