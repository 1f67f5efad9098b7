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
  // Control characters and escape sequences never reach the file's attribute, nor a later request.
  tile.headers = {{"ETag", "\"33a6\x01\x7f\x1b[1m4df5\""}, {"Last-Modified", "Tue, 15 Nov 1994 12:45:26 GMT"}};
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

  // What is no entity-tag is not kept; a date that is none changes nothing.
  const std::time_t written = *qm::ReadTileValidators(file).time;
  for (const std::string& etag : {std::string("\"a\r\nX-Injected: 1\""), "\"" + std::string(qm::kMaxEtagBytes, 'e') + "\"",
                                  std::string("\"a b\""), std::string("33a64df5"), std::string("\"a\"b\""),
                                  std::string("\"")}) {
    qm::KeepTileValidators(file, etag, "yesterday");
    EXPECT_LT(getxattr(file.c_str(), qm::kEtagAttribute, nullptr, 0), 0) << etag;
  }
  qm::KeepTileValidators(file, "", "Tue, 45 Nov 1994 12:45:26 GMT");
  EXPECT_EQ(qm::ReadTileValidators(file).time, written);
  qm::KeepTileValidators(file, "W/\"\"", "");
  EXPECT_EQ(qm::ReadTileValidators(file).etag, "W/\"\"");

  // A time from the future is taken as now, so the tile still grows old for --older-than.
  qm::KeepTileValidators(file, "", "Fri, 31 Dec 9999 23:59:59 GMT", 1700000000);
  EXPECT_EQ(qm::ReadTileValidators(file).time, 1700000000);
}

}  // namespace
