// The two halves of a tile file name around its row, for writers that name many tiles of a column.
#pragma once

#include <cstdint>
#include <string>

class TDownTask;

// TileFileName(task, x, y) == TileNameBeforeRow(task, x) + y + TileNameAfterRow(task).
std::string TileNameBeforeRow(const TDownTask& task, int32_t x);  // "kv_2412_"
std::string TileNameAfterRow(const TDownTask& task);              // "_13.jpg"
