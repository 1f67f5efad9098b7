// Loading a project's fields and the "View log file" decision.
#include "engine/project_loader.h"

#include <gtest/gtest.h>

#include "platform/file_ops.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ProjectFields, StoredTextsFolderAndName) {
  TempDir dir;
  const std::string file = dir.File("area.north.qmtp");
  qm::WriteFileAtomic(file, "[AREA]\r\nLeftLongitude=116,30\r\nRightLongitude=116.5\r\n"
                            "TopLatitude=5E-5\r\nBottomLatitude=-1\r\n\r\n[Zoom]\r\nZoom=25\r\n");
  const ProjectFields f = ReadProjectFields(file);
  EXPECT_EQ(f.LeftLongitude, "116,30");
  EXPECT_EQ(f.RightLongitude, "116.5");
  EXPECT_EQ(f.TopLatitude, "5E-5");
  EXPECT_EQ(f.BottomLatitude, "-1");
  EXPECT_EQ(f.Folder, dir.Path());
  EXPECT_EQ(f.TaskName, "area.north.qmtp");
  EXPECT_EQ(f.Zoom, 25);
}

TEST(ProjectFields, AFileThatIsNoProjectGivesEmptyFieldsAndZoomZero) {
  TempDir dir;
  const std::string file = dir.File("notes.txt");
  qm::WriteFileAtomic(file, "just some text\r\n");
  const ProjectFields f = ReadProjectFields(file);
  EXPECT_EQ(f.LeftLongitude, "");
  EXPECT_EQ(f.BottomLatitude, "");
  EXPECT_EQ(f.Zoom, 0);
  EXPECT_EQ(f.TaskName, "notes.txt");
}

TEST(ProjectFields, AProjectSavedWithAByteOrderMarkReadsAsWithout) {
  TempDir dir;
  const std::string file = dir.File("bom.qmtp");
  qm::WriteFileAtomic(file, "\xEF\xBB\xBF[AREA]\r\nLeftLongitude=116.3\r\n\r\n[Zoom]\r\nZoom=13\r\n");
  const ProjectFields f = ReadProjectFields(file);
  EXPECT_EQ(f.LeftLongitude, "116.3");
  EXPECT_EQ(f.Zoom, 13);
}

TEST(LogView, NoTaskNoFileOrOpen) {
  TempDir dir;
  EXPECT_EQ(DecideLogView(false, ""), LogViewAction::NoTask);
  EXPECT_EQ(DecideLogView(true, dir.File("t_log.txt")), LogViewAction::NoLogFile);
  qm::WriteFileAtomic(dir.File("t_log.txt"), "x");
  EXPECT_EQ(DecideLogView(true, dir.File("t_log.txt")), LogViewAction::Open);
  EXPECT_EQ(kNoTaskText, "No task running now.                  ");
  EXPECT_EQ(kNoLogFileText, "No logfile now.                         ");
}

}  // namespace
