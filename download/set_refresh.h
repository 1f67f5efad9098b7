// A refresh over the begun levels of a level set: the set file's record of the levels already
// refreshed, so that a refresh stopped in a later level does not ask the finished ones again, and
// the set's progress and summary over every level this refresh asks.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "download/refresh_run.h"

// Kept in the set file's [REFRESH] section with the age it was started with; a refresh with
// another age begins anew. A record with no set file keeps nothing.
class SetRefreshRecord {
 public:
  SetRefreshRecord(std::string setFile, const std::optional<int>& olderThanDays);
  bool Finished(const std::string& project) const;
  // Throws qm::FileError when the set file cannot be written.
  void Finish(const std::string& project);
  // The whole set is done: the next refresh begins anew.
  void Clear();

 private:
  std::string setFile_;
  std::string olderThan_;
  std::set<std::string> finished_;
};

RefreshCounts operator+(const RefreshCounts& a, const RefreshCounts& b);

// The tiles and counts of the levels a set's refresh has run, and how it ended.
struct SetRefreshTotals {
  int levels = 0;  // levels run by this refresh
  int skipped = 0;  // levels finished by an earlier, stopped refresh
  int64_t tiles = 0;
  RefreshCounts counts;
  bool complete = true;  // every level run to its end
};

// "Refreshing level 2 of 3, zoom 13: " for a level of a set; "" for a project alone.
std::string RefreshLevelText(int level, int levels, int32_t zoom);
// "Refresh of the set city, 3 levels: 1,200 tiles · unchanged 1,150 · changed 40 · kept 8 ·
// failed 2", with the levels refreshed before and "stopped" when they apply.
std::string SetRefreshSummaryText(const std::string& setName, const SetRefreshTotals& totals);
