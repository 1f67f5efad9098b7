// Downloads over an area from a shape, through the controller against the local server: only the
// shape's tiles are asked for, listed and stored, the workers share them evenly, and a stopped
// download continues from the project's own area file without asking a finished tile again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "download/level_set_run.h"
#include "engine/tile_sequence.h"
#include "mosaic/mosaic_source.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/text_lines.h"
#include "shape/task_area_shape.h"
#include "tests/support/child_process.h"
#include "tests/support/controller_fixture.h"
#include "verify/project_verify.h"

namespace {

using qmtest::ControllerRig;
using qmtest::TestServer;

constexpr int kZoom = 14;

// A park with a lake: a polygon with a hole.
constexpr const char* kPark = R"({"type": "Polygon", "coordinates": [
    [[10.013, 45.011], [10.207, 45.004], [10.198, 45.193], [10.021, 45.207], [10.013, 45.011]],
    [[10.061, 45.057], [10.152, 45.059], [10.149, 45.148], [10.063, 45.151], [10.061, 45.057]]]})";

struct ShapeDownload : ::testing::Test {
  TempDir dir;
  TestServer server;
  std::shared_ptr<const TaskArea> area;
  AreaCover cover;
  StartInputs in;

  void SetUp() override {
    qm::WriteFileAtomic(dir.File("park.geojson"), kPark);
    area = TaskAreaFromFile(dir.File("park.geojson"), 0);
    cover = area->coverAt(kZoom);
    const AreaFieldTexts box = FieldTextsOf(*area);
    in = {box.left, box.right, box.top, box.bottom, std::to_string(kZoom), dir.File("maps"), "park.qmtp"};
  }
  std::string Project() const { return in.Folder + "/park.qmtp"; }
  std::set<std::string> CoverPaths() const {
    std::set<std::string> paths;
    cover.ForEach([&](const SequencedTile& t) { return paths.insert(TestServer::TilePath(kZoom, t.x, t.y)).second; });
    return paths;
  }
};

TEST_F(ShapeDownload, OnlyTheShapesTilesAreAskedListedAndStoredInEvenShares) {
  ASSERT_GT(cover.Tiles(), 40);
  ControllerRig rig(dir, server);
  rig.controller.UseArea(area);
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.controller.Running()) << (rig.view.messages.empty() ? "" : rig.view.messages.back());
  EXPECT_EQ(rig.view.totalLabel, "Total images: " + std::to_string(cover.Tiles()));
  ASSERT_TRUE(rig.RunToEnd());

  std::multiset<std::string> asked;
  for (const auto& request : server.Requests()) asked.insert(request.path);
  const std::set<std::string> inside = CoverPaths();
  EXPECT_EQ(asked, std::multiset<std::string>(inside.begin(), inside.end()));
  const auto list = qm::SplitTextLines(qm::ReadWholeFile(in.Folder + "/park_list.txt"));
  EXPECT_EQ(static_cast<int64_t>(list.size()), cover.Tiles() + 1);
  // Even shares: every worker stored its count of tiles, give or take one.
  std::map<char, int> perWorker;
  for (const std::string& line : rig.view.log) {
    if (line.size() > 2 && line[0] == 'T' && line.ends_with(" OK")) ++perWorker[line[1]];
  }
  ASSERT_EQ(perWorker.size(), 8u);
  const auto [least, most] = std::minmax_element(perWorker.begin(), perWorker.end(),
                                                 [](const auto& a, const auto& b) { return a.second < b.second; });
  EXPECT_LE(most->second - least->second, 1);

  const qm::IniFile project(Project());
  EXPECT_EQ(project.ReadString("AreaShape", "File", ""), "park_area.geojson");
  EXPECT_EQ(project.ReadString("AreaShape", "Tiles", ""), std::to_string(cover.Tiles()));
  EXPECT_EQ(project.ReadString("AREA", "LeftLongitude", ""), in.LeftLongitude);
  EXPECT_EQ(qm::ReadWholeFile(in.Folder + "/park_area.geojson"), area->geoJson);
  EXPECT_EQ(ProjectAreaCover(Project())->Tiles(), cover.Tiles());
  // Verify walks the shape's tiles alone: none outside it is missing. (The test server's tiles are
  // no images, so every one is listed.)
  const VerifyReport report = VerifyProject(Project(), server.HostPort());
  EXPECT_EQ(report.checked, cover.Tiles());
  EXPECT_EQ(report.counts.missing, 0);
  EXPECT_EQ(static_cast<int64_t>(qm::ReadTextFileLines(report.listFile).size()), cover.Tiles());
}

TEST_F(ShapeDownload, AStoppedDownloadContinuesFromItsAreaFileAndAsksNoFinishedTileAgain) {
  {
    ControllerRig rig(dir, server, DownloadPauses{0, 150, 0, 0, 0});
    rig.controller.UseArea(area);
    ASSERT_TRUE(rig.StartAndAwaitRequests(in, server, 10));
    rig.controller.BitBtn1Click(in);  // Stop
    ASSERT_TRUE(rig.RunToEnd());
  }
  const size_t firstRun = server.RequestCount();
  ASSERT_LT(static_cast<int64_t>(firstRun), cover.Tiles());

  // A new process: the area comes back from the project, as the command line's resume reads it.
  ControllerRig rig(dir, server);
  rig.controller.UseArea(TaskAreaOfProject(Project()));
  ASSERT_TRUE(rig.StartResumesAndEnds(in));
  std::set<std::string> stored;
  for (const auto& entry : std::filesystem::directory_iterator(in.Folder + "/park")) {
    stored.insert(entry.path().filename().string());
  }
  EXPECT_EQ(static_cast<int64_t>(stored.size()), cover.Tiles());
  // Nothing outside, and at most the eight tiles in hand at the stop asked twice.
  std::set<std::string> distinct;
  for (const auto& request : server.Requests()) distinct.insert(request.path);
  EXPECT_EQ(distinct, CoverPaths());
  EXPECT_LE(server.RequestCount(), static_cast<size_t>(cover.Tiles()) + 8);

  // An area file changed since would leave tiles never asked for: the task is not continued.
  qm::WriteFileAtomic(in.Folder + "/park_area.geojson", R"({"type": "Point", "coordinates": [10.1, 45.1]})");
  rig.controller.UseArea(TaskAreaOfProject(Project()));
  rig.controller.BitBtn1Click(in);
  EXPECT_FALSE(rig.controller.Running());
  ASSERT_GE(rig.view.messages.size(), 2u);
  EXPECT_NE(rig.view.messages[rig.view.messages.size() - 2].find("was changed since the task"), std::string::npos);

  // Another shape under the same name is another task: it starts anew.
  qm::WriteFileAtomic(dir.File("triangle.geojson"),
                      R"({"type": "Polygon", "coordinates": [[[10.05, 45.05], [10.15, 45.05], [10.1, 45.15], [10.05, 45.05]]]})");
  const auto triangle = TaskAreaFromFile(dir.File("triangle.geojson"), 0);
  rig.controller.UseArea(triangle);
  EXPECT_FALSE(rig.StartResumesAndEnds(in));
  EXPECT_EQ(qm::ReadWholeFile(in.Folder + "/park_area.geojson"), triangle->geoJson);

  // The same fields without the area are another task: it starts anew.
  rig.controller.UseArea(nullptr);
  EXPECT_FALSE(rig.StartResumesAndEnds(in));
  EXPECT_EQ(qm::IniFile(Project()).ReadString("AreaShape", "File", ""), "");
}

// Every level of a set covers the same shape; the set names its area, and a set continued from
// its file with that area asks nothing again.
TEST_F(ShapeDownload, EveryLevelOfASetTakesOnlyTheShapesTiles) {
  ControllerRig rig(dir, server);
  rig.controller.UseArea(area);
  LevelSetRun run(rig.controller, rig.view);
  ASSERT_EQ(run.Start(in, {13, 14}), LevelSetRun::Outcome::kRunning);
  for (int level = 0; level < 2; ++level) {
    ASSERT_TRUE(rig.RunToEnd());
    if (!run.LevelEnded(false)) break;
  }
  EXPECT_EQ(run.End(), DownloadEnd::kComplete);
  const int64_t both = area->coverAt(13).Tiles() + cover.Tiles();
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), both);
  EXPECT_EQ(run.Progress().Total(), both);
  const std::string setFile = in.Folder + "/park.qmset";
  EXPECT_EQ(qm::IniFile(setFile).ReadString("AreaShape", "File", ""), "park_area.geojson");
  EXPECT_EQ(qm::IniFile(in.Folder + "/park_z13.qmtp").ReadString("AreaShape", "File", ""), "park_z13_area.geojson");

  // Resumed with another area, the set is refused; with its own, it is complete.
  rig.controller.UseArea(nullptr);
  EXPECT_EQ(LevelSetRun(rig.controller, rig.view).Resume(setFile), LevelSetRun::Outcome::kRefused);
  rig.controller.UseArea(TaskAreaOfProject(setFile));
  EXPECT_EQ(LevelSetRun(rig.controller, rig.view).Resume(setFile), LevelSetRun::Outcome::kAlreadyComplete);
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), both);
}

// The command line reads the shape through quillmere-area, and resume reads it from the project.
TEST_F(ShapeDownload, TheCommandLineTakesAnAreaFileAndResumesFromTheProject) {
  const std::string config = qmtest::WriteConfig(dir, server);
  const auto cli = [&](std::vector<std::string> args) {
    if (args[0] != "estimate") args.insert(args.end(), {"--config", config, "--quiet"});
    args.insert(args.begin(), QUILLMERE_CLI_PATH);
    return qmtest::RunProgram(args, dir.Path());
  };
  const int64_t tiles = area->coverAt(12).Tiles();  // two a worker at the command line's pace
  const auto estimate = cli({"estimate", "--area", dir.File("park.geojson"), "--zoom", "12"});
  EXPECT_EQ(estimate.status, 0);
  EXPECT_EQ(estimate.out.rfind(std::to_string(tiles) + " tiles in the area", 0), 0u) << estimate.out;
  const auto start = cli({"start", "--area", dir.File("park.geojson"), "--zoom", "12", "--folder", in.Folder,
                          "--name", "park.qmtp"});
  EXPECT_EQ(start.status, 0) << start.err;
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), tiles);
  EXPECT_EQ(qm::ReadWholeFile(in.Folder + "/park_area.geojson"), area->geoJson);
  EXPECT_EQ(cli({"resume", Project()}).status, 0);
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), tiles);
  // A tile of an earlier rectangle of that name, outside the shape, is not the task's to refresh.
  qm::WriteFileAtomic(in.Folder + "/park/kv_1_1_12.jpg", "stale");
  const auto refresh = cli({"refresh", Project()});
  EXPECT_EQ(refresh.status, 0) << refresh.err;
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), 2 * tiles);
  EXPECT_TRUE(server.RequestsFor(TestServer::TilePath(12, 1, 1)).empty());

  EXPECT_EQ(cli({"start", "--area", dir.File("park.geojson"), "--left", "10", "--zoom", "12", "--folder", in.Folder})
                .status,
            1);
  // An area copy that is a link to a device is refused before a byte of it is read (under a memory
  // limit that its 512 MiB bound would break; a sanitizer reserves more address space than that).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const std::string limit = "exec \"$@\"";
#else
  const std::string limit = "ulimit -v 400000 && exec \"$@\"";
#endif
  std::filesystem::remove(in.Folder + "/park_area.geojson");
  std::filesystem::create_symlink("/dev/zero", in.Folder + "/park_area.geojson");
  const auto zero = qmtest::RunProgram({"/bin/sh", "-c", limit, "sh", QUILLMERE_CLI_PATH, "resume", Project(), "--config",
                                        config}, dir.Path());
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("park_area.geojson of " + Project() + " is gone or cannot be read"), std::string::npos) << zero.err;

  qm::WriteFileAtomic(dir.File("empty.geojson"), R"({"type": "FeatureCollection", "features": []})");
  const auto empty = cli({"start", "--area", dir.File("empty.geojson"), "--zoom", "12", "--folder", in.Folder});
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("holds no points, lines or areas"), std::string::npos) << empty.err;
}

// An area file replaced or removed since the download: every program that takes the project's
// tiles refuses the project with the reason, and writes nothing of its own.
TEST_F(ShapeDownload, AnAreaFileChangedOrGoneSinceTheDownloadIsRefusedEverywhere) {
  const std::string config = qmtest::WriteConfig(dir, server);
  const auto cli = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--config", config, "--quiet"});
    args.insert(args.begin(), QUILLMERE_CLI_PATH);
    return qmtest::RunProgram(args, dir.Path());
  };
  ASSERT_EQ(cli({"start", "--area", dir.File("park.geojson"), "--zoom", "12", "--folder", in.Folder, "--name",
                 "park.qmtp"}).status, 0);
  const size_t asked = server.RequestCount();
  const std::string areaFile = in.Folder + "/park_area.geojson";
  const std::string kept = qm::ReadWholeFile(areaFile);
  const std::string changed = "The area file " + areaFile + " was changed since the task " + Project() + " was made";
  const std::string gone = "The area file " + areaFile + " of " + Project() + " is gone or cannot be read";
  for (const auto& [edit, reason] : std::vector<std::pair<std::function<void()>, std::string>>{
           {[&] { qm::WriteFileAtomic(areaFile, R"({"type": "Point", "coordinates": [10.1, 45.1]})"); }, changed},
           {[&] { std::filesystem::remove(areaFile); }, gone}}) {
    edit();
    std::vector<std::vector<std::string>> commands = {{"resume", Project()}, {"refresh", Project()}};
#ifdef QUILLMERE_CLI_VERIFY_TEST
    commands.push_back({"verify", Project()});
#endif
    for (const auto& command : commands) {
      const qmtest::ProgramOutput refused = cli(command);
      EXPECT_EQ(refused.status, 1) << command[0] << ": " << refused.err;
      EXPECT_NE(refused.err.find(reason), std::string::npos) << command[0] << ": " << refused.err;
    }
    try {
      ReadMosaicLevels(Project());
      ADD_FAILURE() << "the combiner took the project";
    } catch (const MosaicError& e) {
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
    }
    qm::WriteFileAtomic(areaFile, kept);
  }
  EXPECT_EQ(server.RequestCount(), asked);
  for (const char* written : {"/park_refresh_log.txt", "/park_verify.ftl"}) EXPECT_FALSE(qm::FileExists(in.Folder + written));
  // A project naming its area file with a path reads only the file of that name beside it.
  qm::IniFile(Project()).WriteString("AreaShape", "File", "../park_area.geojson");
  qm::WriteFileAtomic((std::filesystem::path(in.Folder).parent_path() / "park_area.geojson").string(),
                      R"({"type": "Point", "coordinates": [10.1, 45.1]})");
  EXPECT_EQ(ReadMosaicLevels(Project()).front().shape->Tiles(), area->coverAt(12).Tiles());
}

}  // namespace
