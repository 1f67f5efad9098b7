// Writing and reading an area's tiles as text.
#include "engine/area_cover_text.h"

#include <charconv>
#include <vector>

#include "engine/Unitclasstask.h"

namespace {

// Reads an integer at the front of text and what follows it; throws when there is none.
int32_t TakeInteger(std::string_view& text) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) throw TaskError("The tiles of the area cannot be read.");
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  return value;
}

void Expect(std::string_view& text, std::string_view word) {
  if (!text.starts_with(word)) throw TaskError("The tiles of the area cannot be read.");
  text.remove_prefix(word.size());
}

std::vector<RowInterval> ColumnOf(std::string_view line) {
  std::vector<RowInterval> rows;
  while (!line.empty()) {
    RowInterval interval;
    interval.first = TakeInteger(line);
    Expect(line, "-");
    interval.last = TakeInteger(line);
    rows.push_back(interval);
    if (!line.empty()) Expect(line, " ");
  }
  return rows;
}

}  // namespace

std::string AreaCoverText(const AreaCover& cover) {
  const TileRange bounds = cover.Bounds();
  std::string text = "zoom " + std::to_string(cover.Zoom()) + " minX " + std::to_string(bounds.MinX) + "\n";
  for (int64_t x = bounds.MinX; x <= bounds.MaxX; ++x) {
    const char* separator = "";
    for (const RowInterval& rows : cover.Column(static_cast<int32_t>(x))) {
      text.append(separator).append(std::to_string(rows.first)).append("-").append(std::to_string(rows.last));
      separator = " ";
    }
    text += "\n";
  }
  return text;
}

AreaCover AreaCoverFromText(std::string_view text) {
  Expect(text, "zoom ");
  const int32_t zoom = TakeInteger(text);
  Expect(text, " minX ");
  const int32_t minX = TakeInteger(text);
  Expect(text, "\n");
  std::vector<std::vector<RowInterval>> columns;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) throw TaskError("The tiles of the area cannot be read.");
    columns.push_back(ColumnOf(text.substr(0, end)));
    text.remove_prefix(end + 1);
  }
  return AreaCover(zoom, minX, std::move(columns));
}
