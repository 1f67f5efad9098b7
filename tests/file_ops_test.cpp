// File operations: atomic replacement, tile writes that leave no name behind, copies that never
// overwrite, folder and path helpers.
#include "platform/file_ops.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/errors.h"
#include "tests/support/temp_dir.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Writes content to path with WriteFileAtomicUnflushed in a child process that dies of SIGXFSZ
// once it has written limit bytes to the file, like a download killed in the middle of a tile.
bool KilledWhileWriting(const std::string& path, const std::string& content, rlim_t limit) {
  const pid_t child = fork();
  if (child == 0) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const rlimit small{limit, limit};
    setrlimit(RLIMIT_FSIZE, &small);
    std::signal(SIGXFSZ, SIG_DFL);
    try {
      qm::WriteFileAtomicUnflushed(path, content);
    } catch (...) {
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ;
}

int FilesIn(const std::string& folder) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++n;
  }
  return n;
}

TEST(AtomicWrite, ReplacesContentAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("a.txt");
  qm::WriteFileAtomic(path, "old");
  qm::WriteFileAtomic(path, "new content");
  EXPECT_EQ(qm::ReadWholeFile(path), "new content");
  EXPECT_EQ(FilesIn(dir.Path()), 1);
}

TEST(AtomicWrite, AFailureMidwayKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("list.txt");
  qm::WriteFileAtomic(path, "complete old content\r\n");
  // A child process may write at most 4 KiB per file; the streaming write fails past that.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      qm::AtomicFileWriter writer(path);
      for (int i = 0; i < 10000; ++i) writer.Write("a line of the new content\r\n");
      writer.Commit();
      _exit(0);
    } catch (const qm::FileError&) {
      _exit(3);
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(qm::ReadWholeFile(path), "complete old content\r\n");
  EXPECT_EQ(FilesIn(dir.Path()), 1);
}

TEST(AtomicWrite, ErrorsNameTheTarget) {
  TempDir dir;
  const std::string missing = dir.File("nofolder/x.txt");
  try {
    qm::WriteFileAtomic(missing, "x");
    FAIL();
  } catch (const qm::FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + missing);
  }
  const std::string readOnly = dir.File("ro.txt");
  qm::WriteFileAtomic(readOnly, "keep");
  chmod(readOnly.c_str(), 0444);
  EXPECT_THROW(qm::WriteFileAtomic(readOnly, "lost"), qm::FileError);
  EXPECT_EQ(qm::ReadWholeFile(readOnly), "keep");
  try {
    qm::ReadWholeFile(dir.File("none.txt"));
    FAIL();
  } catch (const qm::FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + dir.File("none.txt"));
  }
}

TEST(AtomicWrite, AReplacedFileKeepsItsPermissions) {
  TempDir dir;
  const std::string path = dir.File("config.ini");
  qm::WriteFileAtomic(path, "ProxyPassword=secret\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  qm::WriteFileAtomic(path, "ProxyPassword=other\r\n");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(AtomicWrite, LeftoversOfAnInterruptedWriteAreRemoved) {
  TempDir dir;
  const std::string target = dir.File("newtask.qmtp");
  qm::WriteFileAtomic(dir.File(".newtask.qmtp.Ab12Cd"), "half");
  qm::WriteFileAtomic(dir.File(".other.qmtp.Ab12Cd"), "not ours");
  qm::WriteFileAtomic(dir.File(".newtask.qmtp.backup"), "six letters, but kept only if the prefix differs");
  qm::RemoveStaleTemporaryFiles(target);
  EXPECT_FALSE(qm::PathExists(dir.File(".newtask.qmtp.Ab12Cd")));
  EXPECT_TRUE(qm::PathExists(dir.File(".other.qmtp.Ab12Cd")));
  EXPECT_EQ(FilesIn(dir.Path()), 1);  // ".newtask.qmtp.backup" has the shape of a leftover too
}

TEST(UnflushedWrite, AProcessKilledMidwayLeavesNoNameBehind) {
  TempDir dir;
  const std::string tile = dir.File("kv_2413_3082_13.jpg");
  const std::string body(64 * 1024, 'J');
  ASSERT_TRUE(KilledWhileWriting(tile, body, 4096));
  EXPECT_EQ(FilesIn(dir.Path()), 0);

  qm::WriteFileAtomicUnflushed(tile, "earlier tile");
  ASSERT_TRUE(KilledWhileWriting(tile, body, 4096));
  EXPECT_EQ(qm::ReadWholeFile(tile), "earlier tile");
  EXPECT_EQ(FilesIn(dir.Path()), 1);
}

TEST(UnflushedWrite, NewAndReplacedFilesGetTheirModeAndWholeContent) {
  TempDir dir;
  const mode_t mask = umask(022);
  umask(mask);
  const std::string tile = dir.File("kv_2412_3080_13.jpg");
  qm::WriteFileAtomicUnflushed(tile, "first");
  EXPECT_EQ(ModeOf(tile), 0666 & ~mask);
  ASSERT_EQ(chmod(tile.c_str(), 0640), 0);
  for (const std::string content : {"second, longer than the first", "3rd"}) {
    qm::WriteFileAtomicUnflushed(tile, content);
    EXPECT_EQ(qm::ReadWholeFile(tile), content);
  }
  EXPECT_EQ(ModeOf(tile), 0640u);
  EXPECT_EQ(FilesIn(dir.Path()), 1);
}

TEST(UnflushedWrite, FailuresKeepTheMessagesOfTheAtomicWrite) {
  TempDir dir;
  const std::string missing = dir.File("nofolder/kv_1_1_1.jpg");
  const std::string folderInPlace = dir.File("kv_1_2_1.jpg");
  const std::string readOnly = dir.File("kv_1_3_1.jpg");
  std::filesystem::create_directory(folderInPlace);
  qm::WriteFileAtomicUnflushed(readOnly, "keep");
  chmod(readOnly.c_str(), 0444);
  for (const std::string& path : {missing, folderInPlace, readOnly}) {
    try {
      qm::WriteFileAtomicUnflushed(path, "x");
      FAIL() << path;
    } catch (const qm::FileError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
  }
  EXPECT_EQ(qm::ReadWholeFile(readOnly), "keep");
  EXPECT_EQ(FilesIn(dir.Path()), 2);
}

TEST(CopyNoOverwrite, CopiesOnlyToAFreeName) {
  TempDir dir;
  qm::WriteFileAtomic(dir.File("blank.jpg"), std::string("\xFF\xD8\x00\x01", 4));
  EXPECT_TRUE(qm::CopyFileNoOverwrite(dir.File("blank.jpg"), dir.File("t.jpg")));
  EXPECT_EQ(qm::ReadWholeFile(dir.File("t.jpg")), std::string("\xFF\xD8\x00\x01", 4));
  qm::WriteFileAtomic(dir.File("kept.jpg"), "tile");
  EXPECT_FALSE(qm::CopyFileNoOverwrite(dir.File("blank.jpg"), dir.File("kept.jpg")));
  EXPECT_EQ(qm::ReadWholeFile(dir.File("kept.jpg")), "tile");
  EXPECT_FALSE(qm::CopyFileNoOverwrite(dir.File("missing.jpg"), dir.File("u.jpg")));
  EXPECT_FALSE(qm::PathExists(dir.File("u.jpg")));
}

TEST(Folders, CreateOneLevelAndPathParts) {
  TempDir dir;
  EXPECT_TRUE(qm::CreateDirectory(dir.File("a")));
  EXPECT_TRUE(qm::DirectoryExists(dir.File("a")));
  EXPECT_FALSE(qm::CreateDirectory(dir.File("b/c")));
  EXPECT_FALSE(qm::CreateDirectory(""));
  EXPECT_EQ(qm::ExtractFilePath("/maps/newtask.qmtp"), "/maps/");
  EXPECT_EQ(qm::ExtractFileName("/maps/newtask.qmtp"), "newtask.qmtp");
  EXPECT_EQ(qm::WithTrailingSeparator("/maps"), "/maps/");
  EXPECT_EQ(qm::WithTrailingSeparator("/maps/"), "/maps/");
  EXPECT_EQ(qm::ProgramFolder().back(), '/');
  EXPECT_TRUE(qm::DirectoryExists(qm::ProgramFolder()));
}

TEST(Append, AddsToTheEnd) {
  TempDir dir;
  qm::AppendToFile(dir.File("log.txt"), "a\r\n");
  qm::AppendToFile(dir.File("log.txt"), "b\r\n");
  EXPECT_EQ(qm::ReadWholeFile(dir.File("log.txt")), "a\r\nb\r\n");
}

// A log or a list of a task: a link, a pipe, a device or a folder in its place is refused, and the
// file a planted link names is neither written nor read.
TEST(Append, NeverWritesThroughALinkAPipeADeviceOrAReadOnlyFile) {
  TempDir dir;
  const std::string target = dir.File("elsewhere.txt");
  qm::WriteFileAtomic(target, "mine\n");
  const std::string link = dir.File("log.txt");
  std::filesystem::create_symlink(target, link);
  const std::string pipe = dir.File("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string readOnly = dir.File("read-only.txt");
  qm::WriteFileAtomic(readOnly, "");
  ::chmod(readOnly.c_str(), 0444);
  for (const std::string& path : {link, pipe, std::string("/dev/null"), dir.Path(), readOnly}) {
    try {
      qm::AppendToFile(path, "x");
      ADD_FAILURE() << "written: " << path;
    } catch (const qm::FileError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with("Unable to write to " + path)) << e.what();
    }
  }
  EXPECT_EQ(qm::ReadWholeFile(target), "mine\n");
  try {
    qm::ReadFileUpTo(link, 100, qm::Links::kRefused);
    ADD_FAILURE() << "read through the link";
  } catch (const qm::FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + link + ": it is a symbolic link, which is not followed");
  }
  EXPECT_EQ(qm::ReadFileUpTo(link, 100), "mine\n");
}

TEST(BoundedRead, LimitsHoldForFilesDevicesAndPipes) {
  TempDir dir;
  const std::string file = dir.File("ten.txt");
  qm::WriteFileAtomic(file, "0123456789");
  EXPECT_EQ(qm::ReadFileUpTo(file, 10), "0123456789");
  try {
    qm::ReadFileUpTo(file, 9);
    FAIL() << "no error raised";
  } catch (const qm::FileTooLarge& e) {
    EXPECT_EQ(std::string(e.what()), "File too large: " + file);
  }
  EXPECT_THROW(qm::ReadFileUpTo("/dev/zero", 4096), qm::FileTooLarge);
  EXPECT_EQ(qm::ReadFileUpTo("/dev/null", 4096), "");
  // A pipe that nobody writes to reads as empty instead of waiting for a writer.
  const std::string pipe = dir.File("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(qm::ReadFileUpTo(pipe, 4096), "");
  // Where only regular files are read, an endless device and a pipe are refused unread.
  EXPECT_EQ(qm::ReadRegularFileUpTo(file, 10), "0123456789");
  EXPECT_THROW(qm::ReadRegularFileUpTo("/dev/zero", SIZE_MAX - 1), qm::NotRegularFile);
  EXPECT_THROW(qm::ReadRegularFileUpTo(pipe, 4096), qm::NotRegularFile);
  try {
    qm::ReadFileUpTo(dir.Path(), 4096);
    FAIL() << "no error raised";
  } catch (const qm::FileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + dir.Path());
  }
}

}  // namespace
