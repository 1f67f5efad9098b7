// The map widget's input, the image cache under it and the tile decoding, without a window around
// them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "mapview/map_widget.h"
#include "mapview/piece_cache.h"
#include "mapview/piece_images.h"
#include "tests/ui/ui_test_helpers.h"

namespace {

using namespace mapview;

struct MapWidgetInput : ::testing::Test {
  const CellRect area{0, 0, 8, 6};
  TileStateGrid states{area};
  MapWidget map;
  int selectionSignals = 0;

  void SetUp() override {
    for (int64_t y = 0; y < 6; ++y) {
      for (int64_t x = 0; x < 8; ++x) states.SetFile(x, y, x < 4 ? FileState::kPresent : FileState::kMissing);
    }
    map.resize(800, 600);
    map.SetArea(area, nullptr);
    map.SetStates(&states);
    Viewport view = map.View();
    view.pixelsPerTile = 100;  // tile (x, y) spans screen pixels 100x..100x+99 across and down
    view.centerX = 4;
    view.centerY = 3;
    map.SetView(view);
    QObject::connect(&map, &MapWidget::selectionChanged, [this] { ++selectionSignals; });
  }
  static QPoint At(double tileX, double tileY) { return QPoint(static_cast<int>(tileX * 100), static_cast<int>(tileY * 100)); }
};

TEST_F(MapWidgetInput, ShiftDragSelectsTheMissingTilesOfTheRectangleAndEscapeClears) {
  QTest::mousePress(&map, Qt::LeftButton, Qt::ShiftModifier, At(2.5, 1.5));
  QTest::mouseMove(&map, At(4.0, 2.0));
  QTest::mouseMove(&map, At(5.5, 3.5));
  QTest::mouseRelease(&map, Qt::LeftButton, Qt::ShiftModifier, At(5.5, 3.5));
  // Columns 2..5, rows 1..3: only columns 4 and 5 are missing.
  EXPECT_EQ(states.SelectedCount(), 6);
  EXPECT_TRUE(states.Selected(5, 3));
  EXPECT_FALSE(states.Selected(3, 2));
  EXPECT_EQ(map.View().centerX, 4) << "a selecting drag does not pan";

  QTest::mouseClick(&map, Qt::LeftButton, Qt::NoModifier, At(6.5, 0.5));  // a click adds one tile
  EXPECT_EQ(states.SelectedCount(), 7);
  QTest::mouseClick(&map, Qt::LeftButton, Qt::NoModifier, At(6.5, 0.5));  // and a second click removes it
  EXPECT_EQ(states.SelectedCount(), 6);
  QTest::keyClick(&map, Qt::Key_Escape);
  EXPECT_EQ(states.SelectedCount(), 0);
  EXPECT_EQ(selectionSignals, 4);
}

TEST_F(MapWidgetInput, DragPansAndTheWheelZoomsAboutTheCursor) {
  QTest::mousePress(&map, Qt::LeftButton, Qt::NoModifier, At(4, 3));
  QTest::mouseMove(&map, At(3, 3));
  QTest::mouseMove(&map, At(2, 2));
  QTest::mouseRelease(&map, Qt::LeftButton, Qt::NoModifier, At(2, 2));
  EXPECT_NEAR(map.View().centerX, 6, 1e-9);
  EXPECT_NEAR(map.View().centerY, 4, 1e-9);
  EXPECT_EQ(states.SelectedCount(), 0) << "a drag is no click";

  const QPointF cursor(123, 456);
  const double tileX = map.View().TileX(cursor.x()), tileY = map.View().TileY(cursor.y());
  QWheelEvent wheel(cursor, map.mapToGlobal(cursor), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(&map, &wheel);
  EXPECT_NEAR(map.View().pixelsPerTile, 200, 1e-9);
  EXPECT_NEAR(map.View().TileX(cursor.x()), tileX, 1e-9);
  EXPECT_NEAR(map.View().TileY(cursor.y()), tileY, 1e-9);
  QTest::keyClick(&map, Qt::Key_Home);
  EXPECT_NEAR(map.View().centerX, 4, 1e-9);
}

TEST(PieceCacheBudget, HoldsItsBudgetAndDropsWhatIsNoLongerWanted) {
  std::atomic<int> loads{0};
  std::atomic<bool> slow{false};
  PieceCache cache(
      [&](const PieceKey& k) {
        ++loads;
        if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QImage image(64, 64, QImage::Format_RGB32);  // 16 KiB
        image.fill(static_cast<QRgb>(k.x));
        return image;
      },
      100 * 1024);
  for (int64_t x = 0; x < 40; ++x) {
    cache.Want({{0, x, 0}});
    ASSERT_TRUE(WaitUntil([&] { return cache.Find({0, x, 0}) != nullptr; }));
    EXPECT_LE(cache.Bytes(), 100u * 1024);
  }
  EXPECT_EQ(cache.Count(), 5u);  // 5 images of 16 KiB and their bookkeeping fit
  EXPECT_EQ(cache.Find({0, 0, 0}), nullptr) << "the oldest went first";
  EXPECT_EQ(qBlue(cache.Find({0, 39, 0})->pixel(0, 0)), 39);

  // Of a hundred pieces asked for and then replaced by one, few are decoded.
  slow = true;
  loads = 0;
  std::vector<PieceKey> many;
  for (int64_t x = 100; x < 200; ++x) many.push_back({0, x, 0});
  cache.Want(many);
  cache.Want({{0, 500, 0}});
  ASSERT_TRUE(WaitUntil([&] { return cache.Find({0, 500, 0}) != nullptr; }));
  EXPECT_LT(loads.load(), 10);

  // A piece forgotten while it loads is loaded again, not kept from before.
  cache.Forget({0, 500, 0});
  EXPECT_EQ(cache.Find({0, 500, 0}), nullptr);
}

}  // namespace

namespace {

std::string Encoded(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return bytes.toStdString();
}

// A small JPEG whose header declares side by side pixels: a few hundred bytes that would ask the
// decoder for megabytes.
std::string JpegDeclaring(int side) {
  QImage image(16, 16, QImage::Format_RGB32);
  image.fill(Qt::red);
  std::string bytes = Encoded(image, "JPEG");
  const size_t frame = bytes.find("\xFF\xC0", 0, 2);
  if (frame == std::string::npos) return {};
  for (const size_t at : {frame + 5, frame + 7}) {  // height, then width, big-endian
    bytes[at] = static_cast<char>(side >> 8);
    bytes[at + 1] = static_cast<char>(side & 0xFF);
  }
  return bytes;
}

TEST(TileImages, OnlyImagesOfATilesSizeAreDecoded) {
  QImage tile(256, 256, QImage::Format_RGB32);
  tile.fill(Qt::darkGreen);
  EXPECT_EQ(DecodeTileBytes(Encoded(tile, "PNG"), 64).size(), QSize(64, 64));
  EXPECT_EQ(DecodeTileBytes(Encoded(tile, "JPEG"), kTilePixels).size(), QSize(256, 256));
  QImage wide(kMaxTileSide + 1, 4, QImage::Format_RGB32);
  wide.fill(Qt::blue);
  EXPECT_TRUE(DecodeTileBytes(Encoded(wide, "PNG"), kTilePixels).isNull());
  const std::string declaring = JpegDeclaring(5000);
  ASSERT_FALSE(declaring.empty());
  EXPECT_TRUE(DecodeTileBytes(declaring, kTilePixels).isNull());
  EXPECT_TRUE(DecodeTileBytes("not an image", kTilePixels).isNull());
}

// At a scale that puts tile edges inside pixels, neighbouring tiles still meet: no line of the
// background shows between them.
TEST(MapWidgetPaint, TilesMeetWithoutSeamsAtAnyScale) {
  PieceCache cache(
      [](const PieceKey&) {
        QImage tile(kTilePixels, kTilePixels, QImage::Format_RGB32);
        tile.fill(Qt::white);
        return tile;
      },
      size_t{64} << 20);
  MapWidget map;
  map.resize(800, 600);
  const CellRect area{0, 0, 8, 6};
  map.SetArea(area, &cache);
  bool complete = false;
  QObject::connect(&map, &MapWidget::painted, [&](bool c) { complete = c; });
  for (const double pixelsPerTile : {300.37, 981.6, 277.77}) {
    map.MoveTo({3.3, 2.71, pixelsPerTile, 800, 600});
    QImage shot;
    ASSERT_TRUE(WaitUntil([&] {
      shot = map.grab().toImage();  // a paint
      return complete;
    }));
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y) {
      for (int x = 0; x < shot.width(); ++x) dark += qGray(shot.pixel(x, y)) < 200;
    }
    EXPECT_EQ(dark, 0) << "at " << pixelsPerTile << " pixels a tile";
  }
}

}  // namespace
