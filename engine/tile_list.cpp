// The tile list: one line per tile with its file name and four edges, produced in bounded pieces.
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/Commonfunc.h"
#include "engine/Unitclasstask.h"
#include "engine/task_files.h"
#include "engine/tile_sequence.h"
#include "engine/tile_source.h"
#include "platform/text_format.h"

namespace {

// Gathers bytes in a fixed buffer and hands it to the sink whenever it fills up.
class ChunkedOutput {
 public:
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 18;

  explicit ChunkedOutput(const std::function<void(std::string_view)>& sink)
      : sink_(sink), buffer_(std::make_unique<char[]>(kChunkBytes)) {}

  void Append(std::string_view bytes) {
    if (used_ + bytes.size() > kChunkBytes) Flush();
    if (bytes.size() > kChunkBytes) {
      sink_(bytes);
      return;
    }
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }

  void AppendInteger(int32_t value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    Append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
  }

  void Flush() {
    if (used_ > 0) sink_(std::string_view(buffer_.get(), used_));
    used_ = 0;
  }

 private:
  const std::function<void(std::string_view)>& sink_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

// The F20 texts of the row edges of a range, one per edge from the north edge of MinY to the
// south edge of MaxY: every column of the walk needs all of them again.
class RowEdgeTexts {
 public:
  RowEdgeTexts(const TileRange& range, uint8_t zoom) : firstRow_(range.MinY) {
    const int64_t edges = RangeHeight(range) + 1;
    starts_.reserve(static_cast<std::size_t>(edges) + 1);
    for (int64_t edge = 0; edge < edges; ++edge) {
      starts_.push_back(texts_.size());
      texts_ += qm::FormatF20(TileYToLat(static_cast<double>(firstRow_ + edge), zoom));
    }
    starts_.push_back(texts_.size());
  }

  // North edge of row y; the south edge is NorthOf(y + 1).
  std::string_view NorthOf(int64_t y) const {
    const auto i = static_cast<std::size_t>(y - firstRow_);
    return std::string_view(texts_).substr(starts_[i], starts_[i + 1] - starts_[i]);
  }

 private:
  int64_t firstRow_;
  std::string texts_;
  std::vector<std::size_t> starts_;
};

// Everything of a line that stays the same down one column.
struct ColumnPieces {
  std::string beforeRow;          // "kv_2412_"
  std::string afterRowAndEdges;   // "_13.jpg: " + west + " " + east + " "
};

ColumnPieces PiecesOf(const TDownTask& task, int32_t x, uint8_t zoom) {
  return {TileNameBeforeRow(task, x),
          TileNameAfterRow(task) + ": " + qm::FormatF20(TileXToLon(x, zoom)) + " " +
              qm::FormatF20(TileXToLon(static_cast<double>(x) + 1, zoom)) + " "};
}

}  // namespace

bool StreamTileList(const TDownTask& task, const std::function<void(std::string_view)>& sink,
                    const ListProgress& keepGoing) {
  const auto zoom = static_cast<uint8_t>(task.Params->Zoom);
  const TileRange range = RangeOf(task);
  const TileOrder order = OrderOf(task);
  ChunkedOutput out(sink);
  out.Append(kTileListHeader);
  out.Append(kLineEnd);
  if (OrderTileCount(order) <= 0) {
    out.Flush();
    return true;
  }
  const RowEdgeTexts rows(range, zoom);
  ColumnPieces column = PiecesOf(task, range.MinX, zoom);
  int32_t columnX = range.MinX;
  const bool complete = ForEachTileInOrder(order, [&](const SequencedTile& tile) {
    if (keepGoing && tile.sequence % kListProgressTiles == 0 && !keepGoing(tile.sequence)) return false;
    if (tile.x != columnX) {
      columnX = tile.x;
      column = PiecesOf(task, columnX, zoom);
    }
    out.Append(column.beforeRow);
    out.AppendInteger(tile.y);
    out.Append(column.afterRowAndEdges);
    out.Append(rows.NorthOf(tile.y));
    out.Append(" ");
    out.Append(rows.NorthOf(int64_t{tile.y} + 1));
    out.Append(kLineEnd);
    return true;
  });
  out.Flush();
  return complete;
}
