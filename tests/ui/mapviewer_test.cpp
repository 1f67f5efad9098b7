// The map viewer with real files: overviews built, kept and rebuilt from JPEG tiles, the window
// fetching selected tiles again from the local server, directly and through a proxy, its verify
// marking damaged tiles, and a project's shaped area.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <QAction>
#include <QLabel>
#include <QPushButton>

#include "companions/mapviewer_window.h"
#include "engine/Commonfunc.h"
#include "engine/task_area.h"
#include "engine/tile_source.h"
#include "mapview/overview_builder.h"
#include "mapview/overview_plan.h"
#include "mapview/piece_images.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "tests/ui/ui_test_helpers.h"

namespace {

using namespace mapview;

struct ViewerProject {
  TempDir dir;
  ProjectArea area;

  ViewerProject(int32_t minX, int32_t minY, int32_t maxX, int32_t maxY) {
    qm::IniFile project(dir.File("p.qmtp"));
    project.WriteString("Zoom", "Zoom", "10");
    project.WriteString("XY", "MinX", std::to_string(minX));
    project.WriteString("XY", "MinY", std::to_string(minY));
    project.WriteString("XY", "MaxX", std::to_string(maxX));
    project.WriteString("XY", "MaxY", std::to_string(maxY));
    area = ReadProjectArea(dir.File("p.qmtp"));
    qm::CreateDirectory(area.tileFolder);
  }
  void Tile(int32_t x, int32_t y, const QColor& colour) {
    QImage image(kTilePixels, kTilePixels, QImage::Format_RGB32);
    image.fill(colour);
    qm::WriteFileAtomic(area.TilePath(x, y), EncodeJpeg(image));
  }
};

bool Near(QRgb pixel, const QColor& colour) {
  return std::abs(qRed(pixel) - colour.red()) < 12 && std::abs(qGreen(pixel) - colour.green()) < 12 &&
         std::abs(qBlue(pixel) - colour.blue()) < 12;
}

TEST(MapViewerOverviews, AreBuiltOnceKeptAndRebuiltAboveAChangedTile) {
  ViewerProject project(5, 3, 24, 12);  // 20 by 10 tiles, not aligned to the pieces
  for (int32_t y = 3; y <= 12; ++y) {
    for (int32_t x = 5; x <= 24; ++x) project.Tile(x, y, Qt::darkGreen);
  }
  project.Tile(9, 4, Qt::red);
  const CellRect area{5, 3, 25, 13};
  const std::string folder = project.dir.File("p_overviews/");
  OverviewStore store(folder);
  {
    OverviewBuilder builder(area, project.area.tileFolder, 10, store, nullptr);
    builder.Start();
    ASSERT_TRUE(WaitUntil([&] { return builder.WalkFinished(); }));
    EXPECT_EQ(builder.PiecesBuilt(), builder.PiecesTotal());
  }
  // The red tile (9, 4) sits in piece (1, 0) of level 3 at tile offset (1, 4): pixels 32..63, 128..159.
  const QImage piece = DecodeTile(store.PathOf({3, 1, 0}), kTilePixels);
  EXPECT_TRUE(Near(piece.pixel(48, 144), Qt::red));
  EXPECT_TRUE(Near(piece.pixel(100, 144), Qt::darkGreen));
  EXPECT_TRUE(Near(piece.pixel(8, 8), kNoTileColour)) << "column 8, row 0 is outside the area";

  OverviewStore reopened(folder);
  OverviewBuilder again(area, project.area.tileFolder, 10, reopened, nullptr);
  again.Start();
  ASSERT_TRUE(WaitUntil([&] { return again.WalkFinished(); }));
  EXPECT_EQ(again.PiecesBuilt(), 0) << "nothing changed since the last opening";

  project.Tile(9, 4, Qt::blue);
  again.TileChanged(9, 4);
  const int64_t levels = OverviewTopLevel(area) - kFirstOverviewLevel + 1;
  ASSERT_TRUE(WaitUntil([&] { return again.PiecesBuilt() == levels; }));
  EXPECT_TRUE(Near(DecodeTile(reopened.PathOf({3, 1, 0}), kTilePixels).pixel(48, 144), Qt::blue));
}

// The window paints the tiles themselves up close and the overview pieces from afar.
TEST(MapViewerWindowPaint, ShowsTilesUpCloseAndOverviewsFromAfar) {
  ProgramFolderForTest program;
  ViewerProject project(40, 30, 41, 31);
  project.Tile(40, 30, Qt::red);
  project.Tile(41, 30, Qt::darkGreen);
  project.Tile(40, 31, Qt::darkGreen);
  MapViewerWindow window(program.Path());
  window.resize(900, 700);
  window.show();
  ASSERT_TRUE(window.OpenProject(project.dir.File("p.qmtp")));
  mapview::MapWidget* map = window.Map();
  bool complete = false;
  QObject::connect(map, &mapview::MapWidget::painted, [&](bool c) { complete = c; });
  const auto colourAt = [&](double tileX, double tileY) {
    complete = false;
    map->update();
    EXPECT_TRUE(WaitUntil([&] { return complete; }));
    const Viewport& v = map->View();
    return map->grab().toImage().pixel(static_cast<int>(v.ScreenX(tileX)), static_cast<int>(v.ScreenY(tileY)));
  };
  EXPECT_EQ(DetailLevel(map->View().pixelsPerTile, 3), 0);
  EXPECT_TRUE(Near(colourAt(40.5, 30.5), Qt::red));
  ASSERT_TRUE(WaitUntil([&] { return !window.Session()->Surveying(); }));
  const QColor mark = StateColour(TileState::kMissing);
  const double a = mark.alphaF();
  const QColor missing(static_cast<int>(kNoTileColour.red() * (1 - a) + mark.red() * a),
                       static_cast<int>(kNoTileColour.green() * (1 - a) + mark.green() * a),
                       static_cast<int>(kNoTileColour.blue() * (1 - a) + mark.blue() * a));
  EXPECT_TRUE(Near(colourAt(41.5, 31.5), missing)) << "a missing tile, marked";
  const QImage swatch = window.findChild<QLabel*>(QString("swatch%1").arg(static_cast<int>(TileState::kMissing)))
                            ->pixmap().toImage();
  EXPECT_TRUE(Near(swatch.pixel(7, 7), missing)) << "the legend shows the mark as the map does";
  ASSERT_TRUE(WaitUntil([&] { return window.Session()->Builder().WalkFinished(); }));
  Viewport far = map->View();
  far.pixelsPerTile = 12;  // overview pieces, no longer tiles
  map->SetView(far);
  EXPECT_TRUE(Near(colourAt(40.5, 30.5), Qt::red));
  EXPECT_TRUE(Near(colourAt(41.5, 30.5), Qt::darkGreen));
}

struct MapViewerFetch : ::testing::Test {
  ProgramFolderForTest program;
  qmtest::TestServer server;
  ViewerProject project{100, 200, 101, 201};
  std::vector<QString> warnings;

  void Configure(bool throughProxy) {
    std::string config = "[IniParas]\r\nTileServer=tiles.example.org:81\r\n";
    if (throughProxy) {
      config += "[Proxy]\r\nUseProxy=1\r\nProxyServer=127.0.0.1\r\nProxyPort=" + std::to_string(server.Port()) + "\r\n";
    } else {
      config = "[IniParas]\r\nTileServer=" + server.HostPort() + "\r\n";
    }
    program.WriteConfig(config);
    project.Tile(100, 200, Qt::green);
    project.Tile(101, 200, Qt::green);
    qm::WriteFileAtomic(project.area.failedList, project.area.TilePath(101, 201) + "|http://x/\r\n");
  }

  // Opens the project, selects every tile that can be fetched and presses the button.
  void FetchEverythingMissing(MapViewerWindow& window) {
    window.SetWarningSink([this](const QString& text) { warnings.push_back(text); });
    ASSERT_TRUE(window.OpenProject(project.dir.File("p.qmtp")));
    ASSERT_TRUE(WaitUntil([&] { return !window.Session()->Surveying(); }));
    TileStateGrid& states = *window.Session()->States();
    EXPECT_EQ(states.Count(TileState::kPresent), 2);
    EXPECT_EQ(states.Count(TileState::kMissing), 1);
    EXPECT_EQ(states.Count(TileState::kFailed), 1);
    states.SelectIn(window.Session()->Cells());
    emit window.Map()->selectionChanged();
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
      if (button->text() == "Fetch selected again") button->click();
    }
    ASSERT_TRUE(WaitUntil([&] { return states.Count(TileState::kPresent) == 4; })) << window.LegendText().toStdString();
    EXPECT_EQ(states.SelectedCount(), 0);
  }
};

TEST_F(MapViewerFetch, SelectedTilesArriveFromTheServerAndTheViewFollows) {
  Configure(false);
  MapViewerWindow window(program.Path());
  FetchEverythingMissing(window);
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(qm::ReadWholeFile(project.area.TilePath(100, 201)),
            qmtest::TestServer::DefaultBody(qmtest::TestServer::TilePath(10, 100, 201)));
  EXPECT_TRUE(server.WaitForRequests(2, std::chrono::seconds(5)));
  for (const qmtest::RecordedRequest& request : server.Requests()) EXPECT_FALSE(request.proxyForm);
}

TEST_F(MapViewerFetch, GoesThroughTheProxyOfTheSettings) {
  Configure(true);
  MapViewerWindow window(program.Path());
  FetchEverythingMissing(window);
  ASSERT_TRUE(server.WaitForRequests(2, std::chrono::seconds(5)));
  for (const qmtest::RecordedRequest& request : server.Requests()) {
    EXPECT_TRUE(request.proxyForm);
    EXPECT_TRUE(request.target.starts_with("http://tiles.example.org:81/")) << request.target;
  }
}

TEST_F(MapViewerFetch, TilesAreFollowedIntoATileFolderMadeAgain) {
  Configure(false);
  MapViewerWindow window(program.Path());
  ASSERT_TRUE(window.OpenProject(project.dir.File("p.qmtp")));
  ASSERT_TRUE(WaitUntil([&] { return !window.Session()->Surveying(); }));
  const TileStateGrid& states = *window.Session()->States();
  ASSERT_EQ(states.Count(TileState::kPresent), 2);
  // Held open, the old folder is released (and its end reported) only after the new one is made,
  // as when a survey or another program still reads it.
  const int oldFolder = ::open(project.area.tileFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::filesystem::remove_all(project.area.tileFolder);
  ASSERT_TRUE(WaitUntil([&] { return states.Count(TileState::kPresent) == 0; }));
  qm::CreateDirectory(project.area.tileFolder);
  project.Tile(100, 201, Qt::green);
  ASSERT_TRUE(WaitUntil([&] { return states.At(100, 201) == TileState::kPresent; }));
  ::close(oldFolder);
  project.Tile(101, 201, Qt::green);
  EXPECT_TRUE(WaitUntil([&] { return states.At(101, 201) == TileState::kPresent; }));
}

TEST_F(MapViewerFetch, AProjectWhoseTileFolderIsGoneFetchesIntoANewOne) {
  Configure(false);
  std::filesystem::remove_all(project.area.tileFolder);
  MapViewerWindow window(program.Path());
  window.SetWarningSink([this](const QString& text) { warnings.push_back(text); });
  ASSERT_TRUE(window.OpenProject(project.dir.File("p.qmtp")));
  ASSERT_TRUE(WaitUntil([&] { return !window.Session()->Surveying(); }));
  TileStateGrid& states = *window.Session()->States();
  ASSERT_EQ(states.Count(TileState::kPresent), 0);
  states.SelectIn(window.Session()->Cells());
  emit window.Map()->selectionChanged();
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text() == "Fetch selected again") button->click();
  }
  EXPECT_TRUE(WaitUntil([&] { return states.Count(TileState::kPresent) == 4; })) << window.LegendText().toStdString();
  EXPECT_TRUE(warnings.empty());
}

TEST_F(MapViewerFetch, AProjectWithoutAnAreaOrBeyondADownloadIsRefusedWithItsReason) {
  MapViewerWindow window(program.Path());
  window.SetWarningSink([this](const QString& text) { warnings.push_back(text); });
  qm::WriteFileAtomic(project.dir.File("empty.qmtp"), "[Zoom]\r\nZoom=10\r\n");
  EXPECT_FALSE(window.OpenProject(project.dir.File("empty.qmtp")));
  const auto world = [&](int zoom) {
    const std::string last = std::to_string((int64_t{1} << zoom) - 1);
    qm::WriteFileAtomic(project.dir.File("world.qmtp"), "[Zoom]\r\nZoom=" + std::to_string(zoom) +
                                                            "\r\n[XY]\r\nMinX=0\r\nMinY=0\r\nMaxX=" + last +
                                                            "\r\nMaxY=" + last + "\r\n");
    return window.OpenProject(project.dir.File("world.qmtp"));
  };
  EXPECT_FALSE(world(30));
  EXPECT_FALSE(world(16));
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_TRUE(warnings[0].contains("holds no tile range")) << warnings[0].toStdString();
  EXPECT_TRUE(warnings[1].contains("is of zoom level 30")) << warnings[1].toStdString();
  EXPECT_TRUE(warnings[2].contains("covers 4,294,967,296 tiles, more than a download can hold"))
      << warnings[2].toStdString();
  EXPECT_EQ(window.Session(), nullptr);

  // What a download can hold opens, without a walk over more tiles than can be looked at.
  ASSERT_TRUE(world(15));
  EXPECT_FALSE(window.Session()->Builder().Walks());
  EXPECT_TRUE(window.Session()->Builder().WalkFinished());
  EXPECT_EQ(window.Session()->States(), nullptr);
}

}  // namespace

namespace {

struct FetchRun : ::testing::Test {
  qmtest::TestServer server;
  ViewerProject project{0, 0, 9, 1};
  FetchAgainRun run;
  QString summary;
  std::vector<mapview::TileXY> tiles;

  void SetUp() override {
    QObject::connect(&run, &FetchAgainRun::ended, [this](const QString& s) { summary = s; });
    for (int64_t x = 0; x < 10; ++x) tiles.emplace_back(x, 0);
  }
  void Start() {
    run.Start(project.area, tiles, {server.HostPort(), std::nullopt}, project.dir.File("fetch.ftl"));
  }
  std::string Path(int32_t x) const { return qmtest::TestServer::TilePath(10, x, 0); }
};

TEST_F(FetchRun, ARefusalEndsTheFetchAndTheSummarySaysSo) {
  server.Script(Path(3), {qmtest::ScriptedAnswer::Status(403)});
  server.Script(Path(1), {qmtest::ScriptedAnswer::Status(500)});
  Start();
  ASSERT_TRUE(WaitUntil([&] { return !summary.isEmpty(); }));
  EXPECT_EQ(summary.toStdString(),
            "Fetched 2 of 10 tiles; 2 failed (last: HTTP/1.1 403 Forbidden); the server refused us, so the fetch ended.");
  EXPECT_TRUE(qm::FileExists(project.area.TilePath(2, 0)));
  EXPECT_FALSE(qm::FileExists(project.area.TilePath(4, 0)));
  EXPECT_FALSE(run.Running());
}

// Unpaced, ten tiles from the local server take a few milliseconds; at eight a second the nine
// gaps between them take over a second.
TEST_F(FetchRun, RequestsAreSpacedAtTheBrowsingPace) {
  Start();
  ASSERT_TRUE(WaitUntil([&] { return !summary.isEmpty(); }));
  EXPECT_EQ(summary.toStdString(), "Fetched 10 of 10 tiles.");
  const std::vector<qmtest::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 10u);
  EXPECT_GE(requests.back().time - requests.front().time, std::chrono::milliseconds(900));
}

// A project whose name holds a bar would make list lines whose path ends at the bar: no such
// file is written and nothing is asked of the server.
TEST_F(FetchRun, LinesThatWouldWriteOutsideTheTileFolderAreRefused) {
  ProjectArea area = project.area;
  area.name = "a|b";
  area.tileFolder = project.dir.File("a|b/");
  run.Start(area, tiles, {server.HostPort(), std::nullopt}, project.dir.File("fetch.ftl"));
  ASSERT_TRUE(WaitUntil([&] { return !summary.isEmpty(); }));
  EXPECT_TRUE(summary.startsWith("Fetched 0 of 10 tiles; 10 refused (last: ")) << summary.toStdString();
  EXPECT_FALSE(qm::FileExists(project.dir.File("a")));
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(FetchRun, StopEndsAfterTheTileInHand) {
  for (int32_t x = 0; x < 10; ++x) server.Script(Path(x), {qmtest::ScriptedAnswer::Ok("tile").Delayed(100)});
  qint64 done = 0;
  QObject::connect(&run, &FetchAgainRun::progressed, [&](qint64 d, qint64, qint64) {
    done = d;
    run.Stop();
  });
  Start();
  ASSERT_TRUE(WaitUntil([&] { return !summary.isEmpty(); }));
  EXPECT_LE(done, 3);
  EXPECT_TRUE(summary.endsWith("; stopped.")) << summary.toStdString();
  EXPECT_LT(server.RequestCount(), 5u);
}

TEST_F(FetchRun, StopAbortsARequestThatHangs) {
  server.Script(Path(0), {qmtest::ScriptedAnswer::Ok("tile").Delayed(30000)});
  Start();
  ASSERT_TRUE(server.WaitForRequests(1, std::chrono::seconds(5)));
  run.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !summary.isEmpty(); })) << "still waiting for the answer";
  EXPECT_EQ(summary.toStdString(), "Fetched 0 of 10 tiles; stopped.");
}

TEST_F(FetchRun, StopEndsTheWaitForABusyServer) {
  qmtest::ScriptedAnswer busy = qmtest::ScriptedAnswer::Status(429);
  busy.headers.emplace_back("Retry-After", "600");
  server.Script(Path(0), {busy});
  Start();
  ASSERT_TRUE(server.WaitForRequests(1, std::chrono::seconds(5)));
  run.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !summary.isEmpty(); })) << "still waiting for the server";
  EXPECT_EQ(summary.toStdString(), "Fetched 0 of 10 tiles; stopped.");
}

TEST(FetchSettingsFile, AProxyPortThatIsNoPortIsRefusedWithItsText) {
  ProgramFolderForTest program;
  program.WriteConfig("[Proxy]\r\nUseProxy=1\r\nProxyServer=p\r\nProxyPort=80a\r\n");
  try {
    ReadFetchSettings(program.ConfigPath());
    ADD_FAILURE() << "no refusal";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "The proxy port \"80a\" of the settings is not a port number (1 to 65535).");
  }
  program.WriteConfig("[Proxy]\r\nUseProxy=0\r\nProxyPort=80a\r\n");
  EXPECT_FALSE(ReadFetchSettings(program.ConfigPath()).proxy) << "an unused proxy is not read";
}

void Click(MapViewerWindow& window, const QString& text) {
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text() == text) button->click();
  }
}

void OpenSurveyed(MapViewerWindow& window, const ViewerProject& project) {
  ASSERT_TRUE(window.OpenProject(project.dir.File("p.qmtp")));
  ASSERT_TRUE(WaitUntil([&] { return !window.Session()->Surveying(); }));
}

bool ActionEnabled(MapViewerWindow& window, const QString& text) {
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->text() == text) return action->isEnabled();
  }
  ADD_FAILURE() << "no action " << text.toStdString();
  return false;
}

// The verify line and the selection of the listed tiles follow the project in view and what became
// of its tiles: another project has its own line, and tiles fetched again are no longer listed.
TEST(MapViewerVerify, MarksDamagedTilesAndItsLineFollowsTheProjectAndTheTilesFetchedAgain) {
  ProgramFolderForTest program;
  qmtest::TestServer server;
  program.WriteConfig("[IniParas]\r\nTileServer=" + server.HostPort() + "\r\n");
  ViewerProject project(100, 200, 101, 201), other(100, 200, 100, 200);
  for (int32_t x : {100, 101}) project.Tile(x, 200, Qt::darkGreen);
  project.Tile(100, 201, Qt::darkGreen);
  const std::string jpeg = qm::ReadWholeFile(project.area.TilePath(100, 201));
  qm::WriteFileAtomic(project.area.TilePath(100, 201), jpeg.substr(0, jpeg.size() / 2));
  qm::WriteFileAtomic(project.area.TilePath(101, 201), "<html><body>Service unavailable</body></html>");
  std::vector<QString> warnings;
  MapViewerWindow window(program.Path());
  window.SetWarningSink([&](const QString& text) { warnings.push_back(text); });
  const QString checked = "4 tiles checked: 2 damaged, 0 missing — listed in p_verify.ftl";
  const auto verify = [&] {
    Click(window, "Verify tiles");
    ASSERT_TRUE(WaitUntil([&] { return window.VerifyText().contains("checked"); }));
    EXPECT_EQ(window.VerifyText(), checked);
  };
  OpenSurveyed(window, project);
  EXPECT_EQ(window.Session()->States()->Count(TileState::kPresent), 4) << "stored, until decoded";
  verify();
  EXPECT_EQ(window.Session()->States()->At(100, 201), TileState::kDamaged);
  EXPECT_EQ(window.Session()->States()->At(101, 201), TileState::kDamaged);
  EXPECT_TRUE(window.LegendText().contains("Damaged (in verify list): 2")) << window.LegendText().toStdString();

  OpenSurveyed(window, other);
  EXPECT_EQ(window.VerifyText(), "") << "the line of the project left";
  EXPECT_FALSE(ActionEnabled(window, "&Select the tiles the verify listed"));
  OpenSurveyed(window, project);
  EXPECT_EQ(window.Session()->States()->Count(TileState::kDamaged), 2) << "the list of the last verify, on opening";
  EXPECT_EQ(window.VerifyText(), "2 of the tiles listed in p_verify.ftl still damaged or missing");
  EXPECT_TRUE(ActionEnabled(window, "&Select the tiles the verify listed"));

  verify();
  const TileStateGrid& states = *window.Session()->States();
  Click(window, "Select the tiles the verify listed");
  EXPECT_EQ(states.SelectedCount(), 2);
  Click(window, "Fetch selected again");
  EXPECT_TRUE(WaitUntil([&] { return states.Count(TileState::kPresent) == 4; })) << window.LegendText().toStdString();
  EXPECT_EQ(states.Count(TileState::kDamaged), 0) << "a tile written again is no longer damaged";
  EXPECT_EQ(qm::ReadWholeFile(project.area.TilePath(101, 201)),
            qmtest::TestServer::DefaultBody(qmtest::TestServer::TilePath(10, 101, 201)));
  EXPECT_TRUE(WaitUntil([&] { return window.VerifyText() == checked + "; all stored again since"; }))
      << window.VerifyText().toStdString();
  EXPECT_FALSE(ActionEnabled(window, "&Select the tiles the verify listed"));
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    if (button->text() == "Select the tiles the verify listed") EXPECT_FALSE(button->isEnabled());
  }

  qm::WriteFileAtomic(project.dir.File("p_verify.ftl"), "");  // another verify's list
  EXPECT_TRUE(WaitUntil([&] { return window.VerifyText().isEmpty(); })) << "the report of a list replaced";
  // A list made before the two tiles were fetched again, as a verify run an hour ago made it.
  const std::string list = project.dir.File("p_verify.ftl");
  qm::WriteFileAtomic(list, qm::ReadWholeFile(project.dir.File("p_overviews/fetch_again.ftl")));
  std::filesystem::last_write_time(list, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  OpenSurveyed(window, project);
  EXPECT_EQ(window.Session()->States()->Count(TileState::kDamaged), 0) << "tiles written since the list are sound";
  EXPECT_EQ(window.VerifyText(), "");
  EXPECT_TRUE(warnings.empty()) << warnings.front().toStdString();
}

// A shape over columns 100 and 101 of a project of columns 100 to 103.
TEST(MapViewerShape, LeavesTilesOutsideTheAreaUnmarkedAndCountsOnlyThoseInside) {
  ProgramFolderForTest program;
  ViewerProject project(100, 200, 103, 201);
  project.Tile(100, 200, Qt::darkGreen);
  const auto point = [](double x, double y) {
    return "[" + std::to_string(TileXToLon(x, 10)) + "," + std::to_string(TileYToLat(y, 10)) + "]";
  };
  const std::string ring = point(100.2, 200.2) + "," + point(101.8, 200.2) + "," + point(101.8, 201.8) + "," +
                           point(100.2, 201.8) + "," + point(100.2, 200.2);
  qm::WriteFileAtomic(project.dir.File("p_area.geojson"), "{\"type\":\"Polygon\",\"coordinates\":[[" + ring + "]]}");
  qm::IniFile(project.dir.File("p.qmtp")).WriteString(kAreaSection, "File", "p_area.geojson");

  MapViewerWindow window(program.Path());
  std::vector<QString> warnings;
  window.SetWarningSink([&](const QString& text) { warnings.push_back(text); });
  window.resize(900, 700);
  window.show();
  OpenSurveyed(window, project);
  const TileStateGrid& states = *window.Session()->States();
  EXPECT_EQ(states.At(101, 201), TileState::kMissing);
  EXPECT_EQ(states.At(102, 200), TileState::kOutside);
  EXPECT_EQ(states.Count(TileState::kMissing), 3);
  EXPECT_TRUE(WaitUntil([&] { return window.LegendText().startsWith("Stored: 1; Blank (server had none): 0; Missing: 3;"); }))
      << window.LegendText().toStdString();
  const QImage shown = window.Map()->grab().toImage();
  const Viewport& view = window.Map()->View();
  const auto pixel = [&](double x, double y) {
    return shown.pixel(static_cast<int>(view.ScreenX(x)), static_cast<int>(view.ScreenY(y)));
  };
  EXPECT_EQ(pixel(102.5, 200.5), kNoTileColour.rgb()) << "no mark outside the area";
  EXPECT_NE(pixel(101.5, 200.5), kNoTileColour.rgb()) << "a missing tile inside is marked";
  EXPECT_TRUE(warnings.empty()) << warnings.front().toStdString();

  // With the digest and count a download keeps, an area file changed since, or one gone, is refused.
  const std::string projectFile = project.dir.File("p.qmtp"), areaFile = project.dir.File("p_area.geojson");
  const std::string shape = qm::ReadWholeFile(areaFile);
  qm::IniFile(projectFile).WriteStrings(kAreaSection, {{"Tiles", "4"}, {"Digest", AreaDigest(shape)}});
  EXPECT_TRUE(window.OpenProject(projectFile));
  const std::string changed = "The area file " + areaFile + " was changed since the task " + projectFile;
  qm::IniFile(projectFile).WriteString(kAreaSection, "Tiles", "0");
  EXPECT_FALSE(window.OpenProject(projectFile));
  qm::IniFile(projectFile).WriteString(kAreaSection, "Tiles", "4");
  qm::WriteFileAtomic(areaFile, shape + " ");
  EXPECT_FALSE(window.OpenProject(projectFile));
  std::filesystem::remove(areaFile);
  EXPECT_FALSE(window.OpenProject(projectFile));
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_EQ(warnings[0].toStdString().rfind(changed, 0), 0u) << warnings[0].toStdString();
  EXPECT_EQ(warnings[1].toStdString().rfind(changed, 0), 0u) << warnings[1].toStdString();
  EXPECT_TRUE(warnings[2].contains("is gone or cannot be read")) << warnings[2].toStdString();
}

}  // namespace
