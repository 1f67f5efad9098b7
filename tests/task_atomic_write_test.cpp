// Tests that a task file whose writing fails or is killed midway leaves the previous file intact.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "engine/Unitclasstask.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "tests/task_test_folder.h"

namespace {

using tasktest::FolderEntries;

constexpr int kNoError = 10;
constexpr int kExpectedError = 11;
constexpr int kOtherError = 12;

// Runs write in a child process whose files may grow to at most limitBytes. With
// killAtLimit the child dies of SIGXFSZ at the limit, as a crash in the middle of the write;
// otherwise the write that crosses the limit fails and the child reports the error it saw.
int RunWithFileSizeLimit(rlim_t limitBytes, bool killAtLimit, const std::string& expectedError,
                         const std::function<void()>& write) {
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const rlimit small{limitBytes, limitBytes};
    ::setrlimit(RLIMIT_FSIZE, &small);
    ::signal(SIGXFSZ, killAtLimit ? SIG_DFL : SIG_IGN);
    int code = kNoError;
    try {
      write();
    } catch (const qm::FileError& e) {
      code = e.what() == expectedError ? kExpectedError : kOtherError;
    } catch (...) {
      code = kOtherError;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WEXITSTATUS(status);
}

// About 2.6 MB of tile list: more than one buffer of the writer.
TDownParams LargeListParams(const std::string& savePath) {
  TDownParams p;
  p.LeftLongitude = -75;
  p.RightLongitude = -72;
  p.TopLatitude = 42;
  p.BottomLatitude = 39;
  p.Zoom = 14;
  p.SavePath = savePath;
  p.TaskName = "big.qmtp";
  return p;
}

TEST(TaskAtomicWrite, TileListThatFailsMidwayLeavesTheOldList) {
  TempDir dir;
  TDownParams p = LargeListParams(dir.Path());
  const TDownTask task(&p);
  ASSERT_GT(task.TotalCount, 20000);
  qm::WriteFileAtomic(task.ListFile, "old list\r\n");

  const int result = RunWithFileSizeLimit(1500000, false, qm::UnableToWriteText(task.ListFile),
                                          [&] { WriteListFile(task); });
  EXPECT_EQ(result, kExpectedError);
  EXPECT_EQ(qm::ReadWholeFile(task.ListFile), "old list\r\n");
  // The unfinished temporary file is removed again.
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"big", "big_list.txt"}));

  // Without the limit the same write completes.
  WriteListFile(task);
  EXPECT_GT(qm::ReadWholeFile(task.ListFile).size(), 2000000u);
}

TEST(TaskAtomicWrite, TileListKilledMidwayLeavesTheOldList) {
  TempDir dir;
  TDownParams p = LargeListParams(dir.Path());
  const TDownTask task(&p);
  qm::WriteFileAtomic(task.ListFile, "old list\r\n");

  const int result = RunWithFileSizeLimit(1500000, true, "", [&] { WriteListFile(task); });
  EXPECT_EQ(result, -SIGXFSZ);
  EXPECT_EQ(qm::ReadWholeFile(task.ListFile), "old list\r\n");
}

TEST(TaskAtomicWrite, ProjectFileAndLogThatFailMidwayStayAsTheyWere) {
  TempDir dir;
  TDownParams p = LargeListParams(dir.Path());
  const TDownTask task(&p);
  qm::WriteFileAtomic(task.ProjectFile(), "[MapsType]\r\nMapsType=4\r\n");
  qm::WriteFileAtomic(task.LogFile, "old log\r\n");

  EXPECT_EQ(RunWithFileSizeLimit(100, false, qm::UnableToWriteText(task.ProjectFile()),
                                 [&] { WriteProjectFile(task); }),
            kExpectedError);
  EXPECT_EQ(RunWithFileSizeLimit(100, true, "", [&] { WriteLogHeader(task); }), -SIGXFSZ);
  EXPECT_EQ(qm::ReadWholeFile(task.ProjectFile()), "[MapsType]\r\nMapsType=4\r\n");
  EXPECT_EQ(qm::ReadWholeFile(task.LogFile), "old log\r\n");
}

}  // namespace
