// An area's tiles as plain text, so a program without the shape library (the command line) can
// take them from the one that has it: "zoom Z minX X" and then one line per column with its row
// intervals "first-last", separated by blanks.
#pragma once

#include <string>
#include <string_view>

#include "engine/area_cover.h"

std::string AreaCoverText(const AreaCover& cover);
// Throws TaskError for text that is not a cover.
AreaCover AreaCoverFromText(std::string_view text);
