// "Area from file...": a widened GPX track fills the fields with its bounding box, the estimate and
// the download count only its tiles, and Open task gives the area back so Start continues it.
#include <QLabel>
#include <sys/stat.h>

#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/support/scoped_env.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/form_widgets.h"

namespace {

constexpr const char* kTrack = R"(<?xml version="1.0"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="45.900" lon="7.600"/><trkpt lat="45.930" lon="7.650"/><trkpt lat="45.960" lon="7.660"/>
<trkpt lat="45.990" lon="7.720"/></trkseg></trk></gpx>)";

using MainWindowArea = MainWindowOnTestServer;

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
