// One run at a time on a project or a level set, between real processes: while quillmere-cli
// downloads a set, every other run on the set or its level is refused before it writes anything;
// once the holder is killed, the next run goes ahead. A lock file planted as a link, a pipe or a
// second name of another file is refused without being followed, waited on or written.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "platform/file_ops.h"
#include "platform/run_lock.h"
#include "tests/support/child_process.h"
#include "tests/support/controller_fixture.h"

namespace {

using qmtest::ScriptedAnswer;
using qmtest::TestServer;

std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// Waits for a file that another process writes; false when it has not come within a minute.
bool AwaitFile(const std::string& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!qm::FileExists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

struct RunLocks : ::testing::Test {
  TempDir dir;
  TestServer server;
  std::string config = qmtest::WriteConfig(dir, server);
  StartInputs in = qmtest::ExampleInputs(dir, "city.qmtp");

  std::vector<std::string> Cli(std::vector<std::string> args) const {
    args.insert(args.begin(), QUILLMERE_CLI_PATH);
    if (args[1] != "redownload") args.push_back("--quiet");
    args.insert(args.end(), {"--config", config});
    return args;
  }
  std::vector<std::string> StartSet() const {
    return Cli({"start", "--left=" + in.LeftLongitude, "--right=" + in.RightLongitude, "--top=" + in.TopLatitude,
                "--bottom=" + in.BottomLatitude, "--zoom=12-13", "--folder", in.Folder, "--name", in.TaskName});
  }
  std::string Maps(const std::string& name) const { return in.Folder + "/" + name; }
};

TEST_F(RunLocks, EveryOtherRunOnAHeldSetOrLevelIsRefusedAndAKilledHolderBlocksNothing) {
  // The holder's first tile never comes, so it holds the set and its first level until killed.
  server.SetFallback(ScriptedAnswer::Ok("tile").Delayed(600000));
  const pid_t holder = qmtest::SpawnProgram(StartSet(), -1, true);
  ASSERT_GT(holder, 0);
  const std::string set = Maps("city.qmset"), level = Maps("city_z12.qmtp");
  // The set file is written once its first level runs.
  ASSERT_TRUE(server.WaitForRequests(1, std::chrono::seconds(60)) && AwaitFile(set));
  qm::WriteFileAtomic(Maps("city_z12_refresh_failed.ftl"), "");  // as an earlier refresh leaves it
  const std::set<std::string> before = NamesIn(in.Folder);

  const std::string busy = " is being downloaded by another process (" + std::to_string(holder) + ")";
  const std::vector<std::pair<std::vector<std::string>, std::string>> others = {
      {StartSet(), set},
      {Cli({"resume", set}), set},
      {Cli({"resume", level}), level},
      {Cli({"refresh", level}), level},
      {Cli({"refresh", set}), set},
      {Cli({"redownload", Maps("city_z12_failed.ftl"), "--folder", in.Folder}), level},
      {Cli({"redownload", Maps("city_z12_refresh_failed.ftl"), "--folder", in.Folder}), level},
#ifdef QUILLMERE_CLI_VERIFY_TEST
      {Cli({"verify", level}), level},
      {Cli({"verify", set}), set},
#endif
  };
  for (const auto& [args, held] : others) {
    const qmtest::ProgramOutput refused = qmtest::RunProgram(args, dir.Path());
    EXPECT_EQ(refused.status, 1) << args[1] << ": " << refused.err;
    EXPECT_NE(refused.err.find(held + busy), std::string::npos) << args[1] << ": " << refused.err;
  }
  EXPECT_EQ(NamesIn(in.Folder), before);

  ::kill(holder, SIGKILL);
  qmtest::WaitForExit(holder);
  server.SetFallback(ScriptedAnswer::Ok("tile"));
  const qmtest::ProgramOutput resumed = qmtest::RunProgram(Cli({"resume", set}), dir.Path());
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  // The lock files go with their runs: the folder holds the files of the set as before locks.
  for (const std::string& name : NamesIn(in.Folder)) EXPECT_FALSE(name.ends_with(".lock")) << name;
}

TEST_F(RunLocks, TheRefusalNamesTheHolderAndAPlantedLockFileIsRefusedUntouched) {
  ASSERT_EQ(qmtest::RunProgram(StartSet(), dir.Path()).status, 0);
  const std::string level = Maps("city_z13.qmtp");
  const std::string target = dir.File("elsewhere.txt");
  qm::WriteFileAtomic(target, "not a lock");
  const std::string lockFile = qm::LockFileOf(level);
  {
    // The refusal names the process the lock file names, digit for digit.
    const qm::RunLock held = qm::RunLock::Take(level);
    const int fd = ::open(lockFile.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(qm::WriteAll(fd, "1023456789" + std::string(40, ' ') + "\n"));
    ::close(fd);
    const qmtest::ProgramOutput refused = qmtest::RunProgram(Cli({"resume", level}), dir.Path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(level + " is being downloaded by another process (1023456789)"), std::string::npos)
        << refused.err;
  }
  for (const auto& plant : std::vector<std::function<void()>>{
           [&] { std::filesystem::create_symlink(target, lockFile); },
           [&] { ASSERT_EQ(::mkfifo(lockFile.c_str(), 0600), 0); },
           [&] { ASSERT_EQ(::link(target.c_str(), lockFile.c_str()), 0); }}) {
    plant();
    const qmtest::ProgramOutput refused = qmtest::RunProgram(Cli({"resume", level}), dir.Path());
    EXPECT_EQ(refused.status, 5);
    EXPECT_NE(refused.err.find("The lock file " + lockFile + " is not a plain file"), std::string::npos) << refused.err;
    EXPECT_EQ(qm::ReadWholeFile(target), "not a lock");
    std::filesystem::remove(lockFile);
  }
  EXPECT_EQ(qmtest::RunProgram(Cli({"resume", level}), dir.Path()).status, 0);
}

}  // namespace
