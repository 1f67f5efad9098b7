// What a refresh walks: the tiles stored in a project's tile folder in the task's order, and the
// refresh's own positions, kept in the project file's [REFRESH] section so that a stopped refresh
// continues where each worker stopped. The download's own positions are never touched.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "engine/project_area.h"

struct StoredTile {
  int32_t x = 0;
  int32_t y = 0;
  int64_t sequence = 0;  // in the order of the project's range, (MinX, MinY) is 1
};

// Every tile file of the project's zoom and range in its tile folder, in the task's order; with
// olderThan, only those whose file time is before it or after now (a time that cannot be right).
// Throws qm::FileError when the folder cannot be read.
std::vector<StoredTile> StoredTilesOf(const ProjectArea& area, std::optional<std::time_t> olderThan,
                                      std::time_t now);

inline constexpr int kMaxRefreshWorkers = 8;
inline constexpr const char* kRefreshSection = "REFRESH";

// An unfinished refresh as the project file keeps it.
struct RefreshPositions {
  std::time_t started = 0;  // 0: no unfinished refresh
  std::optional<int> olderThanDays;
  int workers = 0;
  // Each worker's last finished tile; none before its first.
  std::array<std::optional<StoredTile>, kMaxRefreshWorkers> last{};

  // The sequence number after which worker i goes on.
  int64_t ResumeOf(int i) const;
};

// Positions without the section, or with one that does not fit the range, read as no refresh.
RefreshPositions ReadRefreshPositions(const std::string& projectFile, const ProjectArea& area);
// Replaces the section's keys in one write of the project file; throws qm::FileError.
void WriteRefreshPositions(const std::string& projectFile, const RefreshPositions& positions);
// Empties the section's keys: the refresh is finished and a new one starts from the beginning.
void ClearRefreshPositions(const std::string& projectFile);
