// The files the build lays beside the program: configuration, blank tile and user manual.
#include <cstdlib>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <gtest/gtest.h>

#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/support/scoped_env.h"
#include "tests/ui/ui_test_helpers.h"
#include "ui/Unit1.h"
#include "ui/Unitoptions.h"

namespace {

TEST(ShippedDataTest, ConfigurationGivesVersionTileServerAndDefaultFolder) {
  const std::string folder = qm::ProgramFolder();
  const qm::IniFile config(qm::ConfigFilePath(folder));
  EXPECT_EQ(config.ReadString("IniParas", "TileServer", ""), "localhost:8080");
  EXPECT_EQ(config.ReadInteger("Proxy", "UseProxy", -1), 0);

  TForm1 window(folder);
  window.show();
  EXPECT_EQ(window.windowTitle(), "Quillmere 6.2");
  EXPECT_EQ(window.Edit6->text().toStdString(), qm::DefaultDownloadPath());
}

TEST(ShippedDataTest, TheDefaultDownloadFolderFollowsTheUserDirs) {
  TempDir config;
  const ScopedEnv configHome("XDG_CONFIG_HOME", config.Path());
  qm::WriteFileAtomic(config.File("user-dirs.dirs"), "XDG_DOWNLOAD_DIR=\"$HOME/Telechargements\"\n");
  EXPECT_EQ(qm::DefaultDownloadPath(), QDir::homePath().toStdString() + "/Telechargements");
}

TEST(ShippedDataTest, BlankTileIsA256PixelJpegAndTheManualIsThere) {
  const std::string folder = qm::ProgramFolder();
  QImageReader reader(QString::fromStdString(folder + "blankimg/blank.jpg"));
  EXPECT_EQ(reader.format(), "jpeg");
  const QImage image = reader.read();
  EXPECT_EQ(image.size(), QSize(256, 256));
  EXPECT_TRUE(qm::FileExists(folder + "help/help.html"));
}

}  // namespace
