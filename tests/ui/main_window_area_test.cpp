// "Area from file...": a widened GPX track fills the fields with its bounding box, the estimate and
// the download count only its tiles, and Open task gives the area back so Start continues it;
// edges moved into a shape say so, and its files agree; the buffer follows typing.
#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <set>
#include <sys/stat.h>

#include "download/area_program.h"
#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/text_lines.h"
#include "tests/support/scoped_env.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/form_widgets.h"

namespace {

constexpr const char* kTrack = R"(<?xml version="1.0"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="45.900" lon="7.600"/><trkpt lat="45.930" lon="7.650"/><trkpt lat="45.960" lon="7.660"/>
<trkpt lat="45.990" lon="7.720"/></trkseg></trk></gpx>)";

// A triangle over the south-west half of a box about 7 by 6 tiles wide at zoom 14.
constexpr const char* kTriangle =
    R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{},"geometry":{"type":"Polygon",)"
    R"("coordinates":[[[7.60,45.90],[7.75,45.90],[7.60,46.00],[7.60,45.90]]]}}]})";

using MainWindowArea = MainWindowOnTestServer;

void TypeInto(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

std::set<std::pair<int32_t, int32_t>> ListedTiles(const std::string& listFile) {
  std::set<std::pair<int32_t, int32_t>> tiles;
  for (const std::string& line : qm::ReadTextFileLines(listFile)) {
    if (const auto tile = ParseTileFileName(line.substr(0, line.find(':')))) tiles.insert({tile->x, tile->y});
  }
  return tiles;
}

TEST_F(MainWindowArea, ATrackFromAFileNarrowsTheDownloadAndComesBackWithItsProject) {
#ifndef QUILLMERE_AREA_PATH
  GTEST_SKIP() << "built without the shape reader";
#else
  const ScopedEnv program("QUILLMERE_AREA_PROGRAM", QUILLMERE_AREA_PATH);
  const std::string track = maps.File("ridge.gpx");
  qm::WriteFileAtomic(track, kTrack);
  window->PickAreaFile = [&] { return QString::fromStdString(track); };
  window->UpDown1->SetPosition(14);
  window->EditBuffer->setText("300");
  window->AreaFileButton->click();
  EXPECT_EQ(window->AreaName->text(), "ridge.gpx");
  EXPECT_EQ(window->Edit1->text().left(4), "7.59");  // the bounding box widened by 300 m
  EXPECT_TRUE(window->StatusText->text().contains("tiles in the area")) << window->StatusText->text().toStdString();
  EXPECT_TRUE(window->AreaClearButton->isEnabled());

  window->BitBtn1->click();
  ASSERT_TRUE(FinishDownload());
  const std::string project = maps.Path() + "area/newtask.qmtp";
  const qm::IniFile stored(project);
  const int64_t inside = std::stoll(stored.ReadString("AreaShape", "Tiles", "0"));
  const int64_t rectangle = int64_t{stored.ReadInteger("XY", "MaxX", 0) - stored.ReadInteger("XY", "MinX", 0) + 1} *
                            (stored.ReadInteger("XY", "MaxY", 0) - stored.ReadInteger("XY", "MinY", 0) + 1);
  EXPECT_GT(inside, 0);
  EXPECT_LT(inside, rectangle);
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), inside);

  // Cleared, the fields alone are the rectangle; Open task brings the area back and Start finds
  // the task complete, asking nothing.
  window->AreaClearButton->click();
  EXPECT_EQ(window->AreaName->text(), "The whole rectangle");
  window->PickProjectFile = [&] { return QString::fromStdString(project); };
  window->Button4->click();
  EXPECT_EQ(window->AreaName->text(), "ridge.gpx");
  EXPECT_EQ(window->EditBuffer->text(), "300");
  window->BitBtn1->click();
  ASSERT_TRUE(FinishDownload());
  EXPECT_TRUE(window->Controller().CurrentParams()->Resume);
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), inside);
#endif
}

// A left edge typed into a polygon leaves its western tiles out, and the row and the estimate say
// so; the area file read through the project's range, its count, the list, the requests and the
// log then hold exactly the tiles the estimate counted.
TEST_F(MainWindowArea, EdgesMovedIntoAShapeSaySoAndTheTaskFilesAgreeOnTheTilesKept) {
#ifndef QUILLMERE_AREA_PATH
  GTEST_SKIP() << "built without the shape reader";
#else
  const ScopedEnv program("QUILLMERE_AREA_PROGRAM", QUILLMERE_AREA_PATH);
  const std::string triangle = maps.File("valley.geojson");
  qm::WriteFileAtomic(triangle, kTriangle);
  window->PickAreaFile = [&] { return QString::fromStdString(triangle); };
  window->UpDown1->SetPosition(14);
  window->AreaFileButton->click();
  EXPECT_FALSE(window->EditBuffer->isEnabled()) << "a polygon takes no buffer";
  EXPECT_FALSE(window->StatusText->text().contains("cut")) << "the shape's own box holds it whole";
  TypeInto(window->Edit1, "7.68");
  const QRegularExpressionMatch cut = QRegularExpression("^The (area is cut by the edges: (\\d+) of \\d+ tiles) · (\\d+) tiles")
                                          .match(window->StatusText->text());
  ASSERT_TRUE(cut.hasMatch()) << window->StatusText->text().toStdString();
  const int64_t kept = cut.captured(2).toLongLong();
  EXPECT_EQ(cut.captured(3).toLongLong(), kept);
  EXPECT_EQ(window->AreaName->text(), "Cut: valley.geojson");
  EXPECT_TRUE(window->AreaName->toolTip().endsWith(cut.captured(1)));

  window->BitBtn1->click();
  ASSERT_TRUE(FinishDownload());
  const std::string project = maps.Path() + "area/newtask.qmtp";
  const qm::IniFile stored(project);
  EXPECT_EQ(std::stoll(stored.ReadString("AreaShape", "Tiles", "0")), kept);
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), kept);
  const TileRange range{stored.ReadInteger("XY", "MinX", 0), stored.ReadInteger("XY", "MinY", 0),
                        stored.ReadInteger("XY", "MaxX", 0), stored.ReadInteger("XY", "MaxY", 0)};
  std::set<std::pair<int32_t, int32_t>> inArea;
  AreaOfProject(project)->coverAt(14).ClippedTo(range).ForEach([&](const SequencedTile& t) {
    return inArea.insert({t.x, t.y}).second;
  });
  EXPECT_EQ(static_cast<int64_t>(inArea.size()), kept);
  EXPECT_EQ(ListedTiles(maps.Path() + "area/newtask_list.txt"), inArea);
  EXPECT_EQ(Memo1Lines().filter(cut.captured(1)).size(), 1) << "the log says so too";
#endif
}

// The buffer widens the track again once typing pauses, and the fields follow; what cannot be a
// buffer is said in the status bar while typing, and the area in use stays.
TEST_F(MainWindowArea, TheBufferFollowsTyping) {
#ifndef QUILLMERE_AREA_PATH
  GTEST_SKIP() << "built without the shape reader";
#else
  const ScopedEnv program("QUILLMERE_AREA_PROGRAM", QUILLMERE_AREA_PATH);
  const std::string track = maps.File("ridge.gpx");
  qm::WriteFileAtomic(track, kTrack);
  window->PickAreaFile = [&] { return QString::fromStdString(track); };
  window->AreaFileButton->click();
  const QString narrowLeft = window->Edit1->text();
  TypeInto(window->EditBuffer, "2500");
  ASSERT_TRUE(ProcessUntil([&] { return window->Controller().Area()->bufferMetres == 2500; }));
  EXPECT_LT(window->Edit1->text().toDouble(), narrowLeft.toDouble() - 0.02) << "about 2.5 km further west";
  TypeInto(window->EditBuffer, "4x");
  ASSERT_TRUE(ProcessUntil([&] { return window->StatusText->text() == "The buffer should be zero or more metres."; }));
  EXPECT_TRUE(boxes.Calls().empty());
  EXPECT_EQ(window->Controller().Area()->bufferMetres, 2500);
  TypeInto(window->EditBuffer, "0");
  ASSERT_TRUE(ProcessUntil([&] { return window->Controller().Area()->bufferMetres == 0; })) << "the track as it is";
#endif
}

// A pipe chosen as the area file is refused at once with the reason, and the fields stay.
TEST_F(MainWindowArea, APipeIsRefusedWithoutWaitingForIt) {
#ifndef QUILLMERE_AREA_PATH
  GTEST_SKIP() << "built without the shape reader";
#else
  const ScopedEnv program("QUILLMERE_AREA_PROGRAM", QUILLMERE_AREA_PATH);
  const std::string pipe = maps.File("ridge.gpx");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const QString left = window->Edit1->text();
  window->PickAreaFile = [&] { return QString::fromStdString(pipe); };
  window->AreaFileButton->click();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text, QString::fromStdString(pipe + " is not a regular file: an area is read from a file of "
                                                                 "its own, not from a folder, a pipe or a device."));
  EXPECT_EQ(window->Edit1->text(), left);
  EXPECT_EQ(window->AreaName->text(), "The whole rectangle");
#endif
}

}  // namespace
