// A stored tile keeps its answer's Last-Modified as its file time and its ETag beside it, for a
// download's worker and a re-download alike.
#include "platform/tile_validators.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include "download/redownload_run.h"
#include "platform/file_ops.h"
#include "platform/http_date.h"
#include "tests/support/test_server.h"
#include "tests/support/worker_harness.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::WorkerHarness;

struct Entries : RedownloadView {
  void AddEntry(const std::string&) override {}
  void ProcessEvents() override {}
};

TEST(TileValidators, AStoredTileKeepsItsTimeAndETagAndANewAnswerReplacesThem) {
  qmtest::TestServer server;
  WorkerHarness run{server.HostPort(), 1, 1, 1};
  const std::string file = run.FilePath(WorkerHarness::kMinX, WorkerHarness::kMinY);
  qm::WriteFileAtomic(file, "probe");
  if (setxattr(file.c_str(), "user.probe", "1", 1, 0) != 0) GTEST_SKIP() << "no extended attributes here";

  const std::string path = qmtest::TestServer::TilePath(13, WorkerHarness::kMinX, WorkerHarness::kMinY);
  ScriptedAnswer tile = ScriptedAnswer::Ok("tile");
  tile.headers = {{"ETag", "\"33a64df5\""}, {"Last-Modified", "Tue, 15 Nov 1994 12:45:26 GMT"}};
  server.Script(path, {tile, ScriptedAnswer::Ok("newer tile")});
  run.Start();
  ASSERT_TRUE(run.WaitUntilDone());
  EXPECT_EQ(qm::ReadTileValidators(file).etag, "\"33a64df5\"");
  EXPECT_EQ(qm::ReadTileValidators(file).time, 784903526);
  EXPECT_EQ(qm::HttpDate(784903526), "Tue, 15 Nov 1994 12:45:26 GMT");

  // Asked again, the server names neither: nothing of the old answer stays with the new tile.
  Entries view;
  qm::WriteFileAtomic(run.saveDir.File("again.ftl"), file + "|" + server.Url(path) + "\n");
  RunRedownload(run.saveDir.File("again.ftl"), view);
  EXPECT_EQ(qm::ReadWholeFile(file), "newer tile");
  EXPECT_EQ(qm::ReadTileValidators(file).etag, std::nullopt);
  EXPECT_GT(qm::ReadTileValidators(file).time, 784903526);

  // An ETag with a line break or beyond the bound is not kept; a date that is none changes nothing.
  const std::time_t written = *qm::ReadTileValidators(file).time;
  qm::KeepTileValidators(file, "\"a\r\nX-Injected: 1\"", "Tue, 45 Nov 1994 12:45:26 GMT");
  qm::KeepTileValidators(file, std::string(qm::kMaxEtagBytes + 1, 'e'), "yesterday");
  EXPECT_EQ(qm::ReadTileValidators(file).etag, std::nullopt);
  EXPECT_EQ(qm::ReadTileValidators(file).time, written);
}

}  // namespace
