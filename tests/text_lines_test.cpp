// Reading list files whole: the lines as a text view loads them, and the limits that keep a
// hostile file from exhausting memory.
#include "platform/text_lines.h"

#include <gtest/gtest.h>

#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ListFile, LinesEndAtEveryKindOfBreakAndAtAZeroByte) {
  TempDir dir;
  const std::string list = dir.File("t_failed.ftl");
  qm::WriteFileAtomic(list, std::string("a|u1\r\nb|u2\nc|u3\r\r\nd\0ignored\r\n", 30));
  EXPECT_EQ(qm::ReadTextFileLines(list), (std::vector<std::string>{"a|u1", "b|u2", "c|u3", "", "d"}));
  EXPECT_THROW(qm::ReadTextFileLines(dir.File("missing.ftl")), qm::FileError);
  qm::WriteFileAtomic(list, "\xEF\xBB\xBF" "a|u1\r\n");  // saved by an editor that marks UTF-8
  EXPECT_EQ(qm::ReadTextFileLines(list), std::vector<std::string>{"a|u1"});
}

TEST(ListFile, FilesBeyondTheByteOrLineLimitAreRefused) {
  TempDir dir;
  const std::string list = dir.File("blank_failed.ftl");
  qm::WriteFileAtomic(list, std::string(1000, '\n'));
  EXPECT_EQ(qm::ReadTextFileLines(list, 1000, 1000).size(), 1000u);
  for (const auto& [maxBytes, maxLines] : {std::pair<size_t, size_t>{999, 1000}, {1000, 999}}) {
    try {
      qm::ReadTextFileLines(list, maxBytes, maxLines);
      FAIL() << "no error raised";
    } catch (const qm::FileTooLarge& e) {
      EXPECT_EQ(std::string(e.what()), "File too large: " + list);
    }
  }
}

}  // namespace
