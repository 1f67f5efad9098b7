// Level sets on the download controller against the local test server: the levels run from the
// coarsest and the figures cover them all; stop and continue ask every tile once; a set file
// edited by hand is refused and left as it was.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

#include "download/level_set_run.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/run_lock.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ControllerRig;
using qmtest::ScriptedAnswer;
using qmtest::TestServer;
using Outcome = LevelSetRun::Outcome;

constexpr ZoomRange kLevels{11, 13};

// Runs the level in hand and every later one to the end of the set; false on a timeout.
bool RunSetToEnd(ControllerRig& rig, LevelSetRun& run) {
  for (int level = 0; level <= kLevels.LevelCount(); ++level) {
    if (!rig.RunToEnd()) return false;
    if (!run.LevelEnded(false)) return true;
  }
  return false;
}

struct LevelSets : ::testing::Test {
  TempDir dir;
  TestServer server;
  StartInputs in = qmtest::ExampleInputs(dir, "city.qmtp");
  std::string setFile = in.Folder + "/city.qmset";

  // Runs the whole set once with a rig of its own.
  void RunWholeSet() {
    ControllerRig rig(dir, server);
    LevelSetRun run(rig.controller, rig.view);
    ASSERT_EQ(run.Start(in, kLevels), Outcome::kRunning);
    ASSERT_TRUE(RunSetToEnd(rig, run));
    ASSERT_EQ(run.End(), DownloadEnd::kComplete);
  }
};

TEST_F(LevelSets, TheLevelsRunFromTheCoarsestAndTheSetCoversThemAll) {
  ControllerRig rig(dir, server);
  {
    // Held by another run, the set does not start, though none of its levels is held.
    ASSERT_TRUE(qm::CreateDirectory(in.Folder));
    const qm::RunLock other = qm::RunLock::Take(setFile);
    EXPECT_EQ(LevelSetRun(rig.controller, rig.view).Start(in, kLevels), Outcome::kRefused);
    EXPECT_EQ(rig.view.messages, std::vector<std::string>{setFile + " is being downloaded by another process (" +
                                                          std::to_string(::getpid()) + ")"});
    EXPECT_EQ(server.RequestCount(), 0u);
    rig.view.messages.clear();
  }
  LevelSetRun run(rig.controller, rig.view);
  ASSERT_EQ(run.Start(in, kLevels), Outcome::kRunning);
  std::vector<std::string> levels{run.LevelText()};
  for (int level = 0; level < kLevels.LevelCount() && rig.RunToEnd() && run.LevelEnded(false); ++level) {
    levels.push_back(run.LevelText());
    EXPECT_THROW(qm::RunLock::Take(setFile), qm::InUseError) << "held from level to level";
  }
  EXPECT_NO_THROW(qm::RunLock::Take(setFile)) << "let go when the set ends, not when the run is forgotten";
  EXPECT_EQ(levels, (std::vector<std::string>{"level 1 of 3, zoom 11", "level 2 of 3, zoom 12", "level 3 of 3, zoom 13"}));
  EXPECT_EQ(run.End(), DownloadEnd::kComplete);
  EXPECT_EQ(rig.view.messages, std::vector<std::string>(3, "Task stoped!" + std::string(20, ' ')));
  const RunSummary set = run.Summary();
  EXPECT_EQ(set.done, set.total);
  EXPECT_EQ(set.run.stored, static_cast<int64_t>(server.RequestCount()));
  const std::string setText = qm::ReadWholeFile(setFile);
  EXPECT_NE(setText.find("\r\n[Finished]\r\nZ11=1\r\nZ12=1\r\nZ13=1\r\n"), std::string::npos) << setText;
}

// Typed as "-74.0", the edge is stored as "-74": the level in hand continues all the same.
TEST_F(LevelSets, StopAndStartAgainAsksEveryTileOnce) {
  in.LeftLongitude = "-74.0";
  server.SetFallback(ScriptedAnswer::Ok("tile").Delayed(150));
  {
    ControllerRig rig(dir, server);
    LevelSetRun run(rig.controller, rig.view);
    ASSERT_EQ(run.Start(in, kLevels), Outcome::kRunning);
    size_t earlierLevels = 0;
    for (int level = 0; level < 2; ++level) {
      ASSERT_TRUE(rig.RunToEnd());
      // The last level's answers wait until the stop is given, however slow this machine.
      if (level == 1) server.SetFallback(ScriptedAnswer::Ok("tile").Held());
      earlierLevels = server.RequestCount();
      ASSERT_TRUE(run.LevelEnded(false));
    }
    EXPECT_EQ(run.LevelText(), "level 3 of 3, zoom 13");
    // Stopped while the first tiles of the last level (12 tiles, 8 workers) are in flight.
    ASSERT_TRUE(rig.bridge.PumpUntil([&] { return server.RequestCount() > earlierLevels; }, std::chrono::seconds(10)));
    rig.controller.BitBtn1Click({});
    server.ReleaseHeld();
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_FALSE(run.LevelEnded(true));
    EXPECT_EQ(run.End(), DownloadEnd::kStopped);
    EXPECT_LT(run.Summary().done, run.Summary().total);
  }
  const std::variant<LevelSet, std::string> stopped = ReadLevelSet(setFile);
  ASSERT_TRUE(std::holds_alternative<LevelSet>(stopped)) << std::get<std::string>(stopped);
  EXPECT_EQ(std::get<LevelSet>(stopped).finished, (std::set<int32_t>{11, 12}));

  ControllerRig rig(dir, server);
  LevelSetRun run(rig.controller, rig.view);
  ASSERT_EQ(run.Resume(setFile), Outcome::kRunning);
  EXPECT_EQ(run.Zoom(), 13);
  EXPECT_TRUE(rig.controller.CurrentParams()->Resume);
  EXPECT_GT(run.Progress().DoneBefore(), 0);
  ASSERT_TRUE(RunSetToEnd(rig, run));
  EXPECT_EQ(run.End(), DownloadEnd::kComplete);
  EXPECT_EQ(run.Summary().done, run.Summary().total);

  std::set<std::string> paths;
  for (const qmtest::RecordedRequest& request : server.Requests()) {
    EXPECT_TRUE(paths.insert(request.path).second) << request.path << " asked twice";
  }
  EXPECT_EQ(static_cast<int64_t>(paths.size()), run.Summary().total);
}

// Killed after a level ended complete but before the set file recorded it: a Start continues
// that level with nothing left to ask.
TEST_F(LevelSets, ALevelEndedButNotRecordedAsksNothingAgain) {
  RunWholeSet();
  const size_t asked = server.RequestCount();
  std::string text = qm::ReadWholeFile(setFile);
  text.erase(text.find("Z12=1\r\n"), 14);  // levels 12 and 13 unrecorded
  qm::WriteFileAtomic(setFile, text);

  ControllerRig rig(dir, server);
  LevelSetRun run(rig.controller, rig.view);
  ASSERT_EQ(run.Start(in, kLevels), Outcome::kRunning);
  EXPECT_EQ(run.Zoom(), 12);
  ASSERT_TRUE(RunSetToEnd(rig, run));
  EXPECT_EQ(run.End(), DownloadEnd::kComplete);
  EXPECT_EQ(server.RequestCount(), asked);
  EXPECT_EQ(std::get<LevelSet>(ReadLevelSet(setFile)).finished, (std::set<int32_t>{11, 12, 13}));
  EXPECT_EQ(run.Start(in, kLevels), Outcome::kAlreadyComplete);
}

TEST_F(LevelSets, ASetEditedByHandIsRefusedAndLeftAsItWas) {
  RunWholeSet();
  const size_t asked = server.RequestCount();
  const std::string written = qm::ReadWholeFile(setFile);
  const std::string levelFile = in.Folder + "/city_z12.qmtp";
  const std::string level = qm::ReadWholeFile(levelFile);
  // Start with the set's fields and Resume refuse it; a set of other levels would replace it.
  const auto refusal = [&](const std::function<void()>& edit, bool sameLevels = true) {
    edit();
    const std::string edited = qm::ReadWholeFile(setFile);
    ControllerRig rig(dir, server);
    LevelSetRun run(rig.controller, rig.view);
    if (sameLevels) {
      EXPECT_EQ(run.Start(in, kLevels), Outcome::kRefused);
    }
    EXPECT_EQ(run.Resume(setFile), Outcome::kRefused);
    EXPECT_EQ(qm::ReadWholeFile(setFile), edited);
    qm::WriteFileAtomic(setFile, written);
    qm::WriteFileAtomic(levelFile, level);
    return rig.view.messages.empty() ? std::string() : rig.view.messages.back();
  };

  EXPECT_NE(refusal([&] {
              std::string text = written;
              text.erase(text.find("Z12=city_z12.qmtp\r\n"), 19);
              qm::WriteFileAtomic(setFile, text);
            }).find("level 12 is missing"),
            std::string::npos);
  EXPECT_NE(refusal([&] { qm::IniFile(levelFile).WriteString("AREA", "LeftLongitude", "-75"); })
                .find("city_z12.qmtp is a task of another area or zoom level"),
            std::string::npos);
  EXPECT_NE(refusal([&] { qm::IniFile(levelFile).WriteString("Zoom", "Zoom", "13"); })
                .find("city_z12.qmtp is a task of another area or zoom level"),
            std::string::npos);
  EXPECT_NE(refusal([&] { std::filesystem::remove(levelFile); }).find("the finished level city_z12.qmtp is missing"),
            std::string::npos);
  EXPECT_NE(refusal([&] { qm::IniFile(setFile).WriteString("LevelSet", "LastZoom", "9"); }, false)
                .find("are not two levels of the tile grid"),
            std::string::npos);
  // Keys as a hand edit leaves them: said with the key and its value as written.
  const auto edited = [&](const std::string& from, const std::string& to) {
    return [&, from, to] {
      std::string text = written;
      text.replace(text.find(from), from.size(), to);
      qm::WriteFileAtomic(setFile, text);
    };
  };
  EXPECT_NE(refusal(edited("LastZoom=13", "LastZoom=4294967306"), false)
                .find("its LastZoom \"4294967306\" is not a zoom level of the tile grid (0 to 30)"),
            std::string::npos);
  EXPECT_NE(refusal(edited("FirstZoom=11", "FirstZoom=-1"), false).find("its FirstZoom \"-1\" is not a zoom level"),
            std::string::npos);
  EXPECT_NE(refusal(edited("LastZoom=13\r\n", "LastZoom=13\r\nlastzoom=14\r\n"))
                .find("its key [LevelSet] lastzoom is written twice"),
            std::string::npos);
  EXPECT_NE(refusal(edited("TaskName=city.qmtp\r\n", ""), false).find("its key [LevelSet] TaskName is missing"),
            std::string::npos);
  EXPECT_NE(refusal(edited("[Finished]\r\nZ11=1", "[Finished]\r\nZ11=2")).find("its mark [Finished] Z11=2 is not 1"),
            std::string::npos);
  EXPECT_NE(refusal(edited("[Finished]\r\n", "[Finished]\r\nZ14=1\r\n")).find("[Finished] Z14 names no level of the set"),
            std::string::npos);
  EXPECT_NE(refusal(edited("Z12=city_z12.qmtp", "Z12=city_z12.qmtp\r\nZ1=city_z01.qmtp"))
                .find("[Levels] Z1 names no level of the set"),
            std::string::npos);
  EXPECT_NE(refusal(edited("[Finished]", "[AreaShape]\r\nFile=city_area.geojson\r\nSource=x\r\nBuffer=-5\r\n\r\n[Finished]"),
                    false)
                .find("its buffer \"-5\" is not a number of metres from 0 to 100,000"),
            std::string::npos);
  EXPECT_EQ(server.RequestCount(), asked);

  // A byte order mark and LF line ends change no key: the set continues as it was.
  std::string plain = "\xEF\xBB\xBF" + written;
  for (size_t at; (at = plain.find("\r\n")) != std::string::npos;) plain.erase(at, 1);
  qm::WriteFileAtomic(setFile, plain);
  ControllerRig rig(dir, server);
  EXPECT_EQ(LevelSetRun(rig.controller, rig.view).Resume(setFile), Outcome::kAlreadyComplete)
      << (rig.view.messages.empty() ? "" : rig.view.messages.back());
}

// A set refused before its first level runs leaves no folder it made, and the one it found.
TEST_F(LevelSets, ASetRefusedBeforeItsFirstLevelLeavesTheFolderAsItWas) {
  ControllerRig rig(dir, server);
  StartInputs world = in;
  world.LeftLongitude = "-179.9", world.RightLongitude = "179.9", world.TopLatitude = "80", world.BottomLatitude = "-80";
  for (const bool existed : {false, true}) {
    if (existed) ASSERT_TRUE(qm::CreateDirectory(in.Folder));
    EXPECT_EQ(LevelSetRun(rig.controller, rig.view).Start(world, {16, 17}), Outcome::kRefused);
    EXPECT_EQ(qm::DirectoryExists(in.Folder), existed);
    ASSERT_FALSE(rig.view.messages.empty());
    EXPECT_EQ(rig.view.messages.back().rfind("Zoom level 16: ", 0), 0u) << rig.view.messages.back();
  }
  EXPECT_TRUE(std::filesystem::is_empty(in.Folder));
  // A folder that cannot be made holds no set to lock: the first level says why it cannot start.
  StartInputs nowhere = in;
  nowhere.Folder = dir.File("no/such/folder");
  EXPECT_EQ(LevelSetRun(rig.controller, rig.view).Start(nowhere, kLevels), Outcome::kRefused);
  EXPECT_EQ(rig.view.messages.back(), "Create directory " + nowhere.Folder + " Failed.");
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(LevelSets, ASetOfOtherFieldsReplacesTheOldOneOfItsName) {
  RunWholeSet();
  in.RightLongitude = "-73.95";
  ControllerRig rig(dir, server);
  LevelSetRun run(rig.controller, rig.view);
  ASSERT_EQ(run.Start(in, kLevels), Outcome::kRunning);
  EXPECT_FALSE(rig.controller.CurrentParams()->Resume);
  ASSERT_TRUE(RunSetToEnd(rig, run));
  const LevelSet replaced = LoadLevelSet(setFile);
  EXPECT_EQ(replaced.RightLongitude, "-73.95");
  EXPECT_EQ(replaced.finished, (std::set<int32_t>{11, 12, 13}));
}

}  // namespace
