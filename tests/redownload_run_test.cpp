// The re-download run against the local server: entries, refusals, resets, write failures.
#include "download/redownload_run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/errors.h"
#include "platform/file_ops.h"
#include "tests/support/controller_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::TestServer;
using Entries = std::vector<std::string>;

struct EntryLog : RedownloadView {
  void AddEntry(const std::string& entry) override { entries.push_back(entry); }
  void ProcessEvents() override { ++processed; }
  Entries entries;
  int processed = 0;
};

struct Redownload : ::testing::Test {
  TempDir dir;
  TestServer server;
  EntryLog view;

  std::string List(const std::string& content) {
    const std::string path = dir.File("task_failed.ftl");
    qm::WriteFileAtomic(path, content);
    return path;
  }
  std::string Line(const std::string& name) { return dir.File(name) + "|" + server.Url("/" + name); }
  std::string Ok(const std::string& name) { return dir.File(name) + ":" + server.Url("/" + name) + " ->OK"; }
};

TEST_F(Redownload, StoresEveryTileAndLeavesTheListUnchanged) {
  const std::string content = Line("a.jpg") + "\r\n" + Line("b.jpg") + "\n";
  const std::string list = List(content);
  RunRedownload(list, view);
  EXPECT_EQ(view.entries, (Entries{"Start...", Ok("a.jpg"), Ok("b.jpg"), "Download End."}));
  EXPECT_EQ(view.processed, 1);
  EXPECT_EQ(qm::ReadWholeFile(dir.File("a.jpg")), TestServer::DefaultBody("/a.jpg"));
  EXPECT_EQ(qm::ReadWholeFile(list), content);
  RunRedownload(list, view);  // a second run asks for every tile again
  EXPECT_EQ(server.RequestCount(), 4u);
}

TEST_F(Redownload, EmptyListAndBlankLine) {
  RunRedownload(List(""), view);
  EXPECT_EQ(view.entries, Entries{"No failed files records."});
  EXPECT_EQ(server.RequestCount(), 0u);

  view.entries.clear();
  RunRedownload(List("\r\n"), view);  // one blank line: a request of an empty URL that fails
  ASSERT_EQ(view.entries.size(), 3u);
  EXPECT_EQ(view.entries[0], "Start...");
  EXPECT_EQ(view.entries[1].substr(view.entries[1].size() - 2), "->");
  EXPECT_EQ(view.entries[2], "Download End.");
}

TEST_F(Redownload, NotFoundGivesTwoEntriesAndTheRunGoesOn) {
  server.Script("/a.jpg", {ScriptedAnswer::Status(404)});
  server.Script("/b.jpg", {ScriptedAnswer::Status(500)});
  RunRedownload(List(Line("a.jpg") + "\r\n" + Line("b.jpg") + "\r\n" + Line("c.jpg") + "\r\n"), view);
  ASSERT_EQ(view.entries.size(), 6u);
  EXPECT_EQ(view.entries[1], "HTTP/1.1 404 Not Found->" + server.Url("/a.jpg"));
  EXPECT_EQ(view.entries[2], server.Url("/a.jpg") + ":Error: the image is not found on server.");
  EXPECT_NE(view.entries[3].find("500"), std::string::npos);
  EXPECT_EQ(view.entries[4], Ok("c.jpg"));
  EXPECT_FALSE(qm::PathExists(dir.File("a.jpg")));
}

TEST_F(Redownload, ARefusalOnTheFirstLineEndsTheRun) {
  for (int status : {403, 302}) {
    view.entries.clear();
    server.Script("/a.jpg", {status == 302 ? ScriptedAnswer::Redirect(302, "/elsewhere") : ScriptedAnswer::Status(403)});
    const size_t before = server.RequestCount();
    RunRedownload(List(Line("a.jpg") + "\r\n" + Line("b.jpg") + "\r\n"), view);
    ASSERT_EQ(view.entries.size(), 4u) << status;
    EXPECT_EQ(view.entries[0], "Start...");
    EXPECT_NE(view.entries[1].find(std::to_string(status)), std::string::npos);
    EXPECT_EQ(view.entries[2], "Error: may be your IP is banned.\nPlease try again later.");
    EXPECT_EQ(view.entries[3], "Download End.");
    EXPECT_EQ(server.RequestCount(), before + 1);
  }
}

TEST_F(Redownload, ResetsAreRepeatedSilentlyUpToABound) {
  server.Script("/a.jpg", {ScriptedAnswer::Reset(), ScriptedAnswer::Ok("fine")});
  RunRedownload(List(Line("a.jpg") + "\r\n"), view);
  EXPECT_EQ(view.entries, (Entries{"Start...", Ok("a.jpg"), "Download End."}));
  EXPECT_EQ(qm::ReadWholeFile(dir.File("a.jpg")), "fine");

  // b's first request goes out on the connection kept alive after a, where libcurl resends it
  // by itself; that resend counts towards the bound of one request and ten repeats.
  view.entries.clear();
  server.Script("/b.jpg", std::vector<ScriptedAnswer>(12, ScriptedAnswer::Reset()));
  RunRedownload(List(Line("a.jpg") + "\r\n" + Line("b.jpg") + "\r\n" + Line("c.jpg") + "\r\n"), view);
  EXPECT_EQ(server.RequestsFor("/b.jpg").size(), 11u);
  ASSERT_EQ(view.entries.size(), 5u);
  EXPECT_NE(view.entries[2].find("10054"), std::string::npos);
  EXPECT_EQ(view.entries[3], Ok("c.jpg"));
}

TEST_F(Redownload, SplitsAtTheFirstBarAndStopsWhenATileCannotBeWritten) {
  RunRedownload(List(dir.File("x.jpg") + "|" + server.Url("/x.jpg?a=1|2") + "\r\n"), view);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].path, "/x.jpg?a=1|2");

  view.entries.clear();
  const std::string list = List(server.Url("/nobar.jpg") + "\r\n" + Line("later.jpg") + "\r\n");
  try {
    RunRedownload(list, view);
    FAIL() << "no error";
  } catch (const qm::FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file ");
  }
  EXPECT_EQ(view.entries, Entries{"Start..."});
  EXPECT_TRUE(server.RequestsFor("/later.jpg").empty());

  view.entries.clear();
  EXPECT_THROW(RunRedownload(List(dir.File("no/folder.jpg") + "|" + server.Url("/y.jpg")), view), qm::FileError);
  try {
    RunRedownload(dir.File("missing.ftl"), view);
    FAIL() << "no error";
  } catch (const qm::FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + dir.File("missing.ftl"));
  }
}

TEST_F(Redownload, SendsThreeWellFormedHeaders) {
  RunRedownload(List(Line("a.jpg")), view);
  ASSERT_EQ(server.RequestCount(), 1u);
  const auto request = server.Requests()[0];
  EXPECT_EQ(request.Header("Referer"), "http://maps.quillmere.example.org/");
  EXPECT_EQ(request.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
  EXPECT_EQ(request.Header("Connection"), "Keep_Alive");
  EXPECT_FALSE(request.proxyForm);
}

// A list from elsewhere: only tile files inside the folder are written, whatever the lines say;
// the lines refused are reported and the others go on.
TEST_F(Redownload, ConfinedRunWritesOnlyTileFilesInsideItsFolder) {
  qm::CreateDirectory(dir.File("tiles"));
  qm::CreateDirectory(dir.File("outside"));
  qm::WriteFileAtomic(dir.File("tiles/notes.txt"), "mine");
  qm::WriteFileAtomic(dir.File("secret.txt"), "mine");
  std::filesystem::create_symlink(dir.File("secret.txt"), dir.File("tiles/kv_9_9_9.jpg"));
  server.Script("/gone.jpg", {ScriptedAnswer::Status(404)});
  const std::string url = server.Url("/tile.jpg");
  // Saved by an editor that marks UTF-8 files; one line's folder is missing.
  const std::string list = List("\xEF\xBB\xBF" + dir.File("tiles/kv_1_2_3.jpg") + "|" + url + "\r\n" +
                                dir.File("tiles/../outside/kv_1_2_4.jpg") + "|" + url + "\r\n" +
                                dir.File("outside/kv_1_2_5.jpg") + "|" + url + "\r\n" +
                                dir.File("tiles/notes.txt") + "|" + url + "\r\n" +
                                dir.File("tiles/kv_9_9_9.jpg") + "|" + url + "\r\n" +
                                server.Url("/nobar.jpg") + "\r\n\r\n" +
                                dir.File("tiles/sub/kv_1_2_7.jpg") + "|" + url + "\r\n" +
                                dir.File("tiles/sub/kv_1_2_6.jpg") + "|" + server.Url("/gone.jpg") + "\r\n");
  const RedownloadTally tally = RunRedownload(list, view, std::nullopt, RedownloadRules{dir.File("tiles")});

  EXPECT_EQ(tally.stored, 1);
  EXPECT_EQ(tally.failed, 2);  // the tile that could not be written, and the one not found
  EXPECT_EQ(tally.refused, 5);
  EXPECT_FALSE(tally.serverRefused);
  EXPECT_EQ(server.RequestCount(), 3u);  // those two and the stored tile, nothing else
  EXPECT_EQ(qm::ReadWholeFile(dir.File("tiles/kv_1_2_3.jpg")), TestServer::DefaultBody("/tile.jpg"));
  EXPECT_EQ(qm::ReadWholeFile(dir.File("tiles/notes.txt")), "mine");
  EXPECT_EQ(qm::ReadWholeFile(dir.File("secret.txt")), "mine");
  EXPECT_FALSE(qm::PathExists(dir.File("outside/kv_1_2_4.jpg")));
  EXPECT_FALSE(qm::PathExists(dir.File("outside/kv_1_2_5.jpg")));
  ASSERT_EQ(view.entries.size(), 11u);  // Start, OK, 5 refused, unwritable, failure and not found, End
  EXPECT_EQ(view.entries[2], dir.File("tiles/../outside/kv_1_2_4.jpg") + ":" + url + " ->refused: outside the folder " +
                                 std::filesystem::canonical(dir.File("tiles")).string());
  EXPECT_EQ(view.entries[4], dir.File("tiles/notes.txt") + ":" + url + " ->refused: not a tile file name (kv_X_Y_Z.jpg)");
  EXPECT_EQ(view.entries[6], server.Url("/nobar.jpg") + " ->refused: no \"|\" between the tile's path and its URL");
}

// Workers of a running download wait while a run occupies the user-interface thread, and every
// line they hand over arrives once it is free again.
TEST(RedownloadBesideADownload, WorkersWaitAndLoseNoLine) {
  TempDir dir;
  TestServer server;
  qmtest::ControllerRig rig(dir, server);
  rig.controller.BitBtn1Click(qmtest::ExampleInputs(dir));
  ASSERT_TRUE(server.WaitForRequests(8, std::chrono::seconds(10)));
  EntryLog view;
  qm::WriteFileAtomic(dir.File("list.ftl"), dir.File("r.jpg") + "|" + server.Url("/r.jpg") + "\r\n");
  RunRedownload(dir.File("list.ftl"), view);
  EXPECT_EQ(view.entries.size(), 3u);
  EXPECT_EQ(rig.controller.RunningThreads(), 8);  // nobody got through while the run was busy
  ASSERT_TRUE(rig.RunToEnd());
  const auto& log = rig.controller.Log().Lines();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.find(" OK") != std::string::npos; }), 12);
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.find(" Finished.") != std::string::npos; }), 8);
}

// A busy server's wait goes through the view (which decides how long it really takes), is said
// in an entry of its own and is no repeat; the tile is asked again and stored.
TEST_F(Redownload, ABusyServersRetryAfterIsWaitedOutThroughTheView) {
  struct WaitingView : EntryLog {
    bool WaitForServer(int ms) override {
      waits.push_back(ms);
      return true;
    }
    std::vector<int> waits;
  } waiting;
  ScriptedAnswer busy = ScriptedAnswer::Status(429);
  busy.headers.emplace_back("Retry-After", "3");
  server.Script("/a.jpg", {busy, ScriptedAnswer::Status(200)});
  RunRedownload(List(Line("a.jpg") + "\n"), waiting);
  EXPECT_EQ(waiting.entries, (Entries{"Start...",
                                      "Server busy (HTTP/1.1 429 Too Many Requests): asking again in 3 s ->" +
                                          server.Url("/a.jpg"),
                                      Ok("a.jpg"), "Download End."}));
  EXPECT_EQ(waiting.waits, std::vector<int>{3000});
}

}  // namespace
