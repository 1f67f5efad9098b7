// The keys of a level set file, checked as a hand edit may have left them: each written once, none
// of those a set needs missing, zoom levels that are levels of the grid as written, level and
// finished marks only for levels of the set.
#pragma once

#include <optional>
#include <string>

namespace qm {
class IniFile;
}

// The first thing wrong with the set file's keys, said with the key and its value as written
// ("its LastZoom \"4294967306\" is not a zoom level of the tile grid (0 to 30)"); nothing when
// its keys are sound.
std::optional<std::string> SetKeysProblem(const qm::IniFile& file);
