// The record and the totals of a level set's refresh.
#include "download/set_refresh.h"

#include <sstream>
#include <utility>

#include "engine/area_input.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"

namespace {

// Never a day count: the age of a record that a finished refresh cleared.
constexpr const char* kNoRecord = "-";

}  // namespace

SetRefreshRecord::SetRefreshRecord(std::string setFile, const std::optional<int>& olderThanDays)
    : setFile_(std::move(setFile)), olderThan_(olderThanDays ? std::to_string(*olderThanDays) : "") {
  if (setFile_.empty()) return;
  const qm::IniFile set(setFile_);
  if (set.ReadString(kRefreshSection, "OlderThan", kNoRecord) != olderThan_) return;
  std::istringstream levels(set.ReadString(kRefreshSection, "Finished", ""));
  for (std::string level; std::getline(levels, level, ',');) finished_.insert(level);
}

bool SetRefreshRecord::Finished(const std::string& project) const {
  return finished_.count(qm::ExtractFileName(project)) > 0;
}

void SetRefreshRecord::Finish(const std::string& project) {
  if (setFile_.empty()) return;
  finished_.insert(qm::ExtractFileName(project));
  std::string levels;
  for (const std::string& level : finished_) levels += (levels.empty() ? "" : ",") + level;
  qm::IniFile(setFile_).WriteStrings(kRefreshSection, {{"OlderThan", olderThan_}, {"Finished", levels}});
}

void SetRefreshRecord::Clear() {
  if (setFile_.empty()) return;
  finished_.clear();
  qm::IniFile(setFile_).WriteStrings(kRefreshSection, {{"OlderThan", kNoRecord}, {"Finished", ""}});
}

RefreshCounts operator+(const RefreshCounts& a, const RefreshCounts& b) {
  return {a.unchanged + b.unchanged, a.changed + b.changed, a.kept + b.kept, a.failed + b.failed};
}

std::string RefreshLevelText(int level, int levels, int32_t zoom) {
  return "Refreshing level " + std::to_string(level) + " of " + std::to_string(levels) + ", zoom " +
         std::to_string(zoom) + ": ";
}

std::string SetRefreshSummaryText(const std::string& setName, const SetRefreshTotals& t) {
  const RefreshCounts& c = t.counts;
  std::string text = "Refresh of the set " + setName + ", " + std::to_string(t.levels) +
                     (t.levels == 1 ? " level" : " levels");
  if (t.skipped > 0) text += " (" + std::to_string(t.skipped) + " refreshed before)";
  text += t.complete ? ": " : " ended early after " + GroupedCount(c.Done()) + " of ";
  text += GroupedCount(t.tiles) + " tiles · unchanged " + GroupedCount(c.unchanged) + " · changed " +
          GroupedCount(c.changed) + " · kept " + GroupedCount(c.kept) + " · failed " + GroupedCount(c.failed);
  return text;
}
