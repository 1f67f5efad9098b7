// Tests of the tile order, the division of the tiles among workers and the resume point.
#include "engine/tile_sequence.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <utility>
#include <vector>

namespace {

// Columns 2412..2414, rows 3080..3083 at zoom 13: 12 tiles.
constexpr TileRange kExample{2412, 3080, 2414, 3083};

// The sequence numbers worker share takes, walking the whole range.
std::vector<int64_t> TakenSequences(const TileRange& range, const WorkerShare& share) {
  std::vector<int64_t> taken;
  WalkWorkerTiles(range, share, [] { return false; }, [&](const SequencedTile& tile) {
    taken.push_back(tile.sequence);
    return TileOutcome::GoOn;
  });
  return taken;
}

using Seqs = std::vector<int64_t>;

TEST(TileSequence, NumbersRunDownEachColumnThenToTheNext) {
  EXPECT_EQ(TileSequenceNumber(kExample, 2412, 3080), 1);
  EXPECT_EQ(TileSequenceNumber(kExample, 2412, 3083), 4);
  EXPECT_EQ(TileSequenceNumber(kExample, 2413, 3080), 5);
  EXPECT_EQ(TileSequenceNumber(kExample, 2414, 3083), 12);
  EXPECT_EQ(RangeTileCount(kExample), 12);

  std::vector<std::pair<int32_t, int32_t>> visited;
  int64_t expectedSequence = 0;
  EXPECT_TRUE(ForEachTileInOrder(kExample, [&](const SequencedTile& tile) {
    EXPECT_EQ(tile.sequence, ++expectedSequence);
    EXPECT_EQ(tile.sequence, TileSequenceNumber(kExample, tile.x, tile.y));
    visited.emplace_back(tile.x, tile.y);
    return true;
  }));
  ASSERT_EQ(visited.size(), 12u);
  EXPECT_EQ(visited[0], std::make_pair(2412, 3080));
  EXPECT_EQ(visited[3], std::make_pair(2412, 3083));
  EXPECT_EQ(visited[4], std::make_pair(2413, 3080));
  EXPECT_EQ(visited[11], std::make_pair(2414, 3083));
}

TEST(TileSequence, EightWorkersShareTwelveTilesWithoutOverlap) {
  std::map<int64_t, int> takenBy;
  std::vector<Seqs> perWorker;
  for (int32_t i = 0; i < 8; ++i) {
    perWorker.push_back(TakenSequences(kExample, {i, 8, 0}));
    for (int64_t s : perWorker.back()) takenBy[s]++;
  }
  EXPECT_EQ(perWorker[0], Seqs({8}));
  EXPECT_EQ(perWorker[1], Seqs({1, 9}));
  EXPECT_EQ(perWorker[4], Seqs({4, 12}));
  EXPECT_EQ(perWorker[5], Seqs({5}));
  EXPECT_EQ(perWorker[6], Seqs({6}));
  EXPECT_EQ(perWorker[7], Seqs({7}));
  ASSERT_EQ(takenBy.size(), 12u);
  for (const auto& [sequence, count] : takenBy) EXPECT_EQ(count, 1) << "tile " << sequence;
}

TEST(TileSequence, ThreeTilesGoToThreeWorkers) {
  const TileRange threeRows{10, 20, 10, 22};
  EXPECT_EQ(TakenSequences(threeRows, {0, 3, 0}), Seqs({3}));
  EXPECT_EQ(TakenSequences(threeRows, {1, 3, 0}), Seqs({1}));
  EXPECT_EQ(TakenSequences(threeRows, {2, 3, 0}), Seqs({2}));
  EXPECT_EQ(TakenSequences(threeRows, {0, 1, 0}), Seqs({1, 2, 3}));
}

TEST(TileSequence, StoredPositionSkipsEverythingUpToIt) {
  // T2X = 2412 and T2Y = 3080: worker 1 finished tile 1 and goes on with tile 9, (2414, 3080).
  const int64_t resume = ResumeSequence(kExample, 2412, 3080);
  EXPECT_EQ(resume, 1);
  std::vector<std::pair<int32_t, int32_t>> fetched;
  WalkWorkerTiles(kExample, {1, 8, resume}, [] { return false; }, [&](const SequencedTile& t) {
    fetched.emplace_back(t.x, t.y);
    return TileOutcome::GoOn;
  });
  EXPECT_EQ(fetched, (std::vector<std::pair<int32_t, int32_t>>{{2414, 3080}}));

  // Ten rows high, worker 5 stored (MinX, MinY + 4): it skips its tile 5 and starts at 13.
  const TileRange tenRows{100, 200, 103, 209};
  const int64_t resume5 = ResumeSequence(tenRows, 100, 204);
  EXPECT_EQ(resume5, 5);
  EXPECT_EQ(TakenSequences(tenRows, {5, 8, resume5}), Seqs({13, 21, 29, 37}));
}

TEST(TileSequence, PositionWithAZeroIsNoPosition) {
  EXPECT_EQ(ResumeSequence(kExample, 0, 3080), 0);
  EXPECT_EQ(ResumeSequence(kExample, 2412, 0), 0);
  EXPECT_EQ(TakenSequences(kExample, {1, 8, ResumeSequence(kExample, 0, 3081)}), Seqs({1, 9}));
  // A worker whose every tile lies at or before its position takes nothing and still ends.
  EXPECT_EQ(TakenSequences(kExample, {4, 8, 12}), Seqs({}));
}

TEST(TileSequence, StopRequestIsAskedBeforeEveryTileOfTheRange) {
  int asked = 0;
  Seqs taken;
  const WalkEnd end = WalkWorkerTiles(
      kExample, {1, 8, 0}, [&] { return ++asked > 9; },
      [&](const SequencedTile& t) {
        taken.push_back(t.sequence);
        return TileOutcome::GoOn;
      });
  EXPECT_EQ(end, WalkEnd::StopRequested);
  EXPECT_EQ(asked, 10);              // asked for tiles 1..10, the tenth answer stopped the walk
  EXPECT_EQ(taken, Seqs({1, 9}));

  asked = 0;
  EXPECT_EQ(WalkWorkerTiles(kExample, {1, 8, 0}, [&] { return ++asked < 0; },
                            [](const SequencedTile&) { return TileOutcome::GoOn; }),
            WalkEnd::Exhausted);
  EXPECT_EQ(asked, 12);
}

TEST(TileSequence, ATileThatStopsTheWorkerEndsItsWalk) {
  Seqs taken;
  const WalkEnd end = WalkWorkerTiles(kExample, {0, 2, 0}, [] { return false; },
                                      [&](const SequencedTile& t) {
                                        taken.push_back(t.sequence);
                                        return t.sequence == 4 ? TileOutcome::Stop
                                                               : TileOutcome::GoOn;
                                      });
  EXPECT_EQ(end, WalkEnd::StoppedByTile);
  EXPECT_EQ(taken, Seqs({2, 4}));
}

TEST(TileSequence, RangeAtTheLargestColumnAndRowEnds) {
  const TileRange corner{INT32_MAX - 1, INT32_MAX - 1, INT32_MAX, INT32_MAX};
  int visits = 0;
  EXPECT_TRUE(ForEachTileInOrder(corner, [&](const SequencedTile&) { return ++visits < 100; }));
  EXPECT_EQ(visits, 4);
  EXPECT_EQ(TileSequenceNumber(corner, INT32_MAX, INT32_MAX), 4);
}

TEST(TileSequence, NoWorkersTakeNothing) {
  EXPECT_EQ(TakenSequences(kExample, {0, 0, 0}), Seqs({}));
}

}  // namespace
