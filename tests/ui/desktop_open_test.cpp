// Opening documents and addresses with the desktop: a failure reaches the user with its reason.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/file_ops.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_helpers.h"
#include "ui/desktop_open.h"

namespace {

// An xdg-open of our own, first on the PATH, that answers as the real one does when no
// program takes the target.
struct NoProgramForAnything {
  TempDir bin;
  ScopedEnv path{"PATH"};
  NoProgramForAnything() {
    const std::string script = bin.File("xdg-open");
    qm::WriteFileAtomic(script, "#!/bin/sh\necho \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n");
    ::chmod(script.c_str(), 0755);
    path.Set(bin.Path() + ":" + std::getenv("PATH"));
  }
};

TEST(DesktopOpen, AFailureToOpenIsToldWithItsReason) {
  TempDir dir;
  std::vector<QString> reasons;
  const auto record = [&](const QString& reason) { reasons.push_back(reason); };
  OpenWithDesktop(dir.File("help/missing.html"), record);
  ASSERT_EQ(reasons.size(), 1u);
  EXPECT_EQ(reasons[0].toStdString(), "Cannot open " + dir.File("help/missing.html") + ": the file does not exist.");

  NoProgramForAnything desktop;
  const std::string manual = dir.File("help.html");
  qm::WriteFileAtomic(manual, "<html></html>");
  OpenWithDesktop(manual, record);
  OpenWithDesktop("https://quillmere.example.org/", record);
  ASSERT_TRUE(WaitUntil([&] { return reasons.size() == 3; }));
  // The two opens run side by side: their reasons come in either order.
  std::sort(reasons.begin() + 1, reasons.end());
  EXPECT_EQ(reasons[1].toStdString(), "Cannot open " + manual + ": xdg-open: no method available for opening 'file://" +
                                          manual + "'");
  EXPECT_TRUE(reasons[2].startsWith("Cannot open https://quillmere.example.org/: xdg-open: no method available"));
}

}  // namespace
