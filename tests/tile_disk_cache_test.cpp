// The on-disk tile cache of the map view: its size bound, its order of use across reopening, and
// where its folder lies.
#include "mapview/tile_disk_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace mapview;
namespace fs = std::filesystem;

std::string Tile(size_t size, int seed) { return std::string(size, static_cast<char>('a' + seed % 26)); }

uint64_t FolderBytes(const std::string& folder) {
  uint64_t total = 0;
  for (const auto& item : fs::directory_iterator(folder)) total += item.file_size();
  return total;
}

TEST(TileDiskCache, StaysWithinTheBoundRemovingTheLeastRecentlyUsedFirst) {
  TempDir dir;
  const std::string folder = dir.File("tiles/server/");  // parents are created too
  constexpr uint64_t kBound = 10000;
  TileDiskCache cache(folder, kBound);
  for (int i = 0; i < 10; ++i) cache.Put(5, i, 1, Tile(1000, i));
  EXPECT_EQ(cache.Count(), 10u);
  EXPECT_EQ(cache.Get(5, 0, 1), Tile(1000, 0));  // the oldest tile, read just before the bound is passed
  for (int i = 10; i < 40; ++i) {
    cache.Put(5, i, 1, Tile(600 + 97 * (i % 7), i));
    EXPECT_LE(FolderBytes(folder), kBound);
    EXPECT_EQ(cache.Bytes(), FolderBytes(folder));
    if (i == 10) {  // one tile had to go: the oldest unread one, not the one just read
      EXPECT_FALSE(fs::exists(folder + "5_1_1.tile"));
      EXPECT_TRUE(fs::exists(folder + "5_0_1.tile") && fs::exists(folder + "5_2_1.tile"));
    }
  }
  EXPECT_EQ(cache.Get(5, 39, 1), Tile(600 + 97 * 4, 39));
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})), cache.Count());
  const size_t count = cache.Count();
  cache.Put(6, 0, 0, Tile(kBound + 1, 0));  // larger than the whole cache: not stored, the others kept
  EXPECT_EQ(cache.Get(6, 0, 0), std::nullopt);
  EXPECT_EQ(cache.Count(), count);
  EXPECT_EQ(cache.Bytes(), FolderBytes(folder));
}

TEST(TileDiskCache, ReopenedWithASmallerBoundKeepsTheRecentlyUsedAndLeavesOtherFiles) {
  TempDir dir;
  {
    TileDiskCache first(dir.Path(), kDefaultTileCacheBytes);
    for (int i = 0; i < 5; ++i) first.Put(3, i, i, Tile(100, i));
    // Distinct times of use, tile 0 the oldest; reading tile 0 then makes it the newest.
    for (int i = 0; i < 5; ++i) {
      const std::string file = dir.File("3_" + std::to_string(i) + "_" + std::to_string(i) + ".tile");
      const timespec times[2] = {{1'000'000'000 + i, 0}, {1'000'000'000 + i, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    }
    EXPECT_EQ(first.Get(3, 0, 0), Tile(100, 0));
  }
  const std::vector<std::string> foreign = {"notes.txt", "3_9_9.tile.bak", "03_1_1.tile", "3_1.tile"};
  for (const std::string& name : foreign) std::ofstream(dir.File(name)) << "not a tile";
  std::ofstream(dir.File(".3_7_7.tile.Ab12Cd")) << "half a tile";  // left by an interrupted write

  TileDiskCache second(dir.Path(), 300);
  EXPECT_EQ(second.Count(), 3u);
  EXPECT_EQ(second.Bytes(), 300u);
  EXPECT_FALSE(fs::exists(dir.File("3_1_1.tile")) || fs::exists(dir.File("3_2_2.tile")));
  for (int i : {0, 3, 4}) EXPECT_EQ(second.Get(3, i, i), Tile(100, i));
  for (const std::string& name : foreign) EXPECT_TRUE(fs::exists(dir.File(name))) << name;
  EXPECT_FALSE(fs::exists(dir.File(".3_7_7.tile.Ab12Cd")));

  fs::remove(dir.File("3_4_4.tile"));  // as another process may do
  EXPECT_EQ(second.Get(3, 4, 4), std::nullopt);
  EXPECT_EQ(second.Bytes(), 200u);

  TileDiskCache unusable(dir.File("notes.txt/tiles/"), 1000);  // under a file: cannot be created
  unusable.Put(1, 1, 1, "x");
  EXPECT_EQ(unusable.Get(1, 1, 1), std::nullopt);
  EXPECT_EQ(unusable.Count(), 0u);
}

TEST(TileDiskCache, FolderLiesInTheUserCacheFolderOneForEachServer) {
  const ScopedEnv cache("XDG_CACHE_HOME", "/cache/of/user");
  const ScopedEnv home("HOME");
  const std::string a = TileCacheFolder("https://a.example/{z}/{x}/{y}.png");
  EXPECT_EQ(a, TileCacheFolder("https://a.example/{z}/{x}/{y}.png"));
  EXPECT_NE(a, TileCacheFolder("https://b.example/{z}/{x}/{y}.png"));
  // "a" hashes to af63dc4c8601ec8c, the published FNV-1a 64-bit test vector.
  EXPECT_EQ(TileCacheFolder("a"), "/cache/of/user/quillmere/tiles/af63dc4c8601ec8c/");
  home.Set("/home/someone");
  cache.Set("relative/cache");
  EXPECT_EQ(TileCacheFolder("a"), "/home/someone/.cache/quillmere/tiles/af63dc4c8601ec8c/");
  cache.Unset();
  EXPECT_EQ(TileCacheFolder("a"), "/home/someone/.cache/quillmere/tiles/af63dc4c8601ec8c/");
}

}  // namespace
