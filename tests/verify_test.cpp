// Verifying a download: every stored tile decoded; damaged, non-image and passed-but-missing tiles
// listed in the failed-tile list's format, with the URLs the download asks.
#include "verify/project_verify.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "demo/jpeg_codec.h"
#include "platform/file_ops.h"
#include "platform/text_lines.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::TestServer;

std::string GreyJpeg() {
  RgbImage image{256, 256, std::vector<uint8_t>(256 * 256 * 3, 120)};
  return EncodeJpeg(image, 90);
}

struct Verify : ::testing::Test {
  static void SetUpTestSuite() { GDALAllRegister(); }

  TempDir dir;
  TestServer server;
  StartInputs in = qmtest::ExampleInputs(dir);
  std::string project = in.Folder + "/newtask.qmtp";
  std::string Tile(int x, int y) const { return in.Folder + "/newtask/kv_" + std::to_string(x) + "_" + std::to_string(y) + "_13.jpg"; }
};

TEST_F(Verify, DamagedPagesAndMissingTilesAreListedForFetchingAgain) {
  const std::string jpeg = GreyJpeg();
  server.SetFallback(ScriptedAnswer::Ok(jpeg));
  server.Script(TestServer::TilePath(13, 2414, 3083), {ScriptedAnswer::Ok("<html>Sign in</html>")});
  qmtest::ControllerRig rig(dir, server);
  rig.controller.BitBtn1Click(in);
  ASSERT_TRUE(rig.RunToEnd());
  qm::WriteFileAtomic(Tile(2412, 3080), jpeg.substr(0, jpeg.size() / 2));  // cut short
  std::remove(Tile(2413, 3081).c_str());

  std::vector<int64_t> seen;
  const VerifyReport report = VerifyProject(project, server.HostPort(), [&](int64_t checked, int64_t total) {
    seen.push_back(checked);
    return total == 12;
  });
  EXPECT_EQ(report.checked, 12);
  EXPECT_EQ(report.counts.sound, 9);
  EXPECT_EQ(report.counts.damaged, 1);
  EXPECT_EQ(report.counts.notImages, 1);
  EXPECT_EQ(report.counts.missing, 1);
  EXPECT_EQ(seen.back(), 12);
  EXPECT_EQ(qm::ReadTextFileLines(report.listFile),
            (std::vector<std::string>{Tile(2412, 3080) + "|http://" + server.HostPort() + TestServer::TilePath(13, 2412, 3080),
                                      Tile(2413, 3081) + "|http://" + server.HostPort() + TestServer::TilePath(13, 2413, 3081),
                                      Tile(2414, 3083) + "|http://" + server.HostPort() + TestServer::TilePath(13, 2414, 3083)}));
  EXPECT_EQ(VerifySummaryText(report), "Checked 12 of 12 tiles: sound 9 · damaged 1 · not images 1 · missing 1 · listed in " +
                                           in.Folder + "/newtask_verify.ftl");
}

TEST_F(Verify, TilesADownloadHasNotReachedAreNotMissingAndAGoneFolderIsSaid) {
  server.SetFallback(ScriptedAnswer::Ok(GreyJpeg()).Delayed(300));
  qmtest::ControllerRig rig(dir, server, DownloadPauses{0, 150, 0, 0, 0});
  ASSERT_TRUE(rig.StartAndAwaitRequests(in, server, 2));
  rig.controller.BitBtn1Click(in);  // Stop: most tiles are never asked
  ASSERT_TRUE(rig.RunToEnd());
  const VerifyReport report = VerifyProject(project, server.HostPort());
  EXPECT_EQ(report.counts.missing, 0);
  EXPECT_EQ(report.counts.Listed(), 0);
  EXPECT_GE(report.counts.sound, 1);
  EXPECT_EQ(qm::ReadWholeFile(report.listFile), "");

  std::filesystem::remove_all(in.Folder + "/newtask");
  EXPECT_THROW(VerifyProject(project, server.HostPort()), qm::FileError);
}

}  // namespace
