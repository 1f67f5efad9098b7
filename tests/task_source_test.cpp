// Tests of the tile source: tile file names, paths, the extension and the tile URL.
#include <gtest/gtest.h>

#include "engine/Unitclasstask.h"
#include "engine/tile_source.h"
#include "tests/task_test_folder.h"

namespace {

using tasktest::ExampleParams;

TEST(TaskSource, WorkedExampleNameAndPathAndUrl) {
  TempDir dir;
  TDownParams p = ExampleParams(dir.Path(), "newtask.qmtp");
  const TDownTask task(&p);
  EXPECT_EQ(TileFileName(task, 2412, 3080), "kv_2412_3080_13.jpg");
  EXPECT_EQ(TileFilePath(task, 2412, 3080), dir.Path() + "newtask/kv_2412_3080_13.jpg");
  EXPECT_EQ(TileExtension(task), "jpg");
  EXPECT_EQ(TileUrl(task, 2412, 3080),
            "http://localhost:8080/maptiler/v2/maptile/newest/satellite.day/13/2412/3080/256/png8");
  EXPECT_EQ(TileNameBeforeRow(task, 2412) + "3080" + TileNameAfterRow(task), "kv_2412_3080_13.jpg");

  p.TileServer = "tiles.internal";
  EXPECT_EQ(TileUrl(task, 2414, 3083),
            "http://tiles.internal/maptiler/v2/maptile/newest/satellite.day/13/2414/3083/256/png8");
}

TEST(TaskSource, ZeroAndTheLargestColumnsAppearInPlainDecimal) {
  TempDir dir;
  TDownParams p = ExampleParams(dir.Path(), "t.qmtp");
  p.Zoom = 1;
  p.TileServer = "127.0.0.1:5000";
  const TDownTask zoom1(&p);
  EXPECT_EQ(TileFileName(zoom1, 0, 0), "kv_0_0_1.jpg");
  EXPECT_EQ(TileUrl(zoom1, 0, 0),
            "http://127.0.0.1:5000/maptiler/v2/maptile/newest/satellite.day/1/0/0/256/png8");

  // The zoom is part of the name, so several zoom levels can share one tile folder.
  p.Zoom = 19;
  EXPECT_EQ(TileFileName(zoom1, 524287, 524287), "kv_524287_524287_19.jpg");
  EXPECT_EQ(TileUrl(zoom1, 524287, 1),
            "http://127.0.0.1:5000/maptiler/v2/maptile/newest/satellite.day/19/524287/1/256/png8");
}

}  // namespace
