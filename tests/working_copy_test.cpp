// Working copies: saves append what is new and the file always equals every line + CR LF.
#include "download/working_copy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/text_lines.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(TextLines, BreaksAtCrLfLfAndCrAndStopsAtZero) {
  using V = std::vector<std::string>;
  EXPECT_EQ(qm::SplitTextLines(""), V{});
  EXPECT_EQ(qm::SplitTextLines("\r\n"), V{""});
  EXPECT_EQ(qm::SplitTextLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(qm::SplitTextLines("a\r\n\r\n"), (V{"a", ""}));
  EXPECT_EQ(qm::SplitTextLines(std::string("a\nb\0c\n", 6)), (V{"a", "b"}));
}

TEST(WorkingCopy, SavesAreByteIdenticalToAFullRewrite) {
  TempDir dir;
  const std::string path = dir.File("log.txt");
  qm::WriteFileAtomic(path, "header\nsecond");
  WorkingCopy copy;
  copy.LoadFromFile(path);
  copy.Append("T1:seq=1,kv_1_1_1.jpg OK");
  copy.SaveToFile(path);
  EXPECT_EQ(qm::ReadWholeFile(path), "header\r\nsecond\r\nT1:seq=1,kv_1_1_1.jpg OK\r\n");
  struct stat before {}, after {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  copy.Append("Socket Error # 10054\r\nConnection reset by peer.->http://h/x");
  copy.Append("");
  copy.SaveToFile(path);
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the new lines were appended, not the file written anew";
  copy.SaveToFile(path);
  EXPECT_EQ(qm::ReadWholeFile(path),
            "header\r\nsecond\r\nT1:seq=1,kv_1_1_1.jpg OK\r\n"
            "Socket Error # 10054\r\nConnection reset by peer.->http://h/x\r\n\r\n");
}

TEST(WorkingCopy, ADeletedOrChangedFileIsRewrittenWhole) {
  TempDir dir;
  const std::string path = dir.File("failed.ftl");
  WorkingCopy copy;
  copy.Append("a|b");
  copy.SaveToFile(path);
  qm::WriteFileAtomic(path, "someone else wrote this\r\n");
  copy.Append("c|d");
  copy.SaveToFile(path);
  EXPECT_EQ(qm::ReadWholeFile(path), "a|b\r\nc|d\r\n");
  std::remove(path.c_str());
  copy.SaveToFile(path);
  EXPECT_EQ(qm::ReadWholeFile(path), "a|b\r\nc|d\r\n");
  // Changed in an editor to other text of the same length: still rewritten whole.
  qm::WriteFileAtomic(path, "x|y\r\nz|w\r\n");
  copy.Append("e|f");
  copy.SaveToFile(path);
  EXPECT_EQ(qm::ReadWholeFile(path), "a|b\r\nc|d\r\ne|f\r\n");
}

// The log moved away and a link put in its place: the next save writes a file of its own there
// and leaves the file the link names as it was; loading never reads through such a link.
TEST(WorkingCopy, APlantedLinkIsReplacedNeverWrittenThrough) {
  TempDir dir;
  const std::string path = dir.File("area_log.txt");
  const std::string moved = dir.File("moved.txt");
  WorkingCopy copy;
  copy.Append("first");
  copy.SaveToFile(path);
  std::filesystem::rename(path, moved);
  std::filesystem::create_symlink(moved, path);
  copy.Append("second");
  copy.SaveToFile(path);
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  EXPECT_EQ(qm::ReadWholeFile(path), "first\r\nsecond\r\n");
  EXPECT_EQ(qm::ReadWholeFile(moved), "first\r\n");
  std::filesystem::remove(path);
  std::filesystem::create_symlink(moved, path);
  EXPECT_THROW(copy.LoadFromFile(path), qm::FileError);
}

TEST(WorkingCopy, LoadErrorsAndSaveErrorsReachTheCaller) {
  TempDir dir;
  WorkingCopy copy;
  EXPECT_THROW(copy.LoadFromFile(dir.File("none.txt")), qm::FileError);
  copy.Append("x");
  EXPECT_THROW(copy.SaveToFile(dir.File("no/folder.txt")), qm::FileError);
}

}  // namespace
