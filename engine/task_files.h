// The texts of the task files, built apart from writing them so they can be checked byte for byte.
#pragma once

#include <functional>
#include <string>
#include <string_view>

class TDownTask;

inline constexpr std::string_view kLineEnd = "\r\n";
inline constexpr std::string_view kTileListHeader =
    "ImageFileName    Left_Edge_Longitude    Right_Edge_Longitude   Top_Edge_Latitude      "
    "Bottom_Edge_Latitude";
inline constexpr std::string_view kHiddenPassword = "********";

std::string ProjectFileText(const TDownTask& task);
// The header of a new log; nowText is the local date and time.
std::string LogHeaderText(const TDownTask& task, const std::string& nowText);
// The block appended to the log of a continued task.
std::string LogContinuationText(const std::string& nowText);
// An existing log with the continuation block appended on a line of its own.
std::string ContinuedLogText(std::string existingLog, const std::string& nowText);

// Produces the tile list in pieces of bounded size, in tile sequence order; memory does not grow
// with the number of tiles (only with the number of rows of the range).
// keepGoing, when given, is asked every kListProgressTiles tiles with the count so far; false
// ends the list there and StreamTileList returns false.
inline constexpr int64_t kListProgressTiles = 65536;
using ListProgress = std::function<bool(int64_t tilesWritten)>;
bool StreamTileList(const TDownTask& task, const std::function<void(std::string_view)>& sink,
                    const ListProgress& keepGoing = nullptr);
