// The files the build lays beside the program: configuration, blank tile and user manual.
#include <cstdlib>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSet>
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

QStringList Captures(const QString& text, const QString& pattern) {
  QStringList found;
  for (const QRegularExpressionMatch& m : QRegularExpression(pattern).globalMatch(text)) found << m.captured(1);
  return found;
}

// The manual opens in a browser, often offline: its contents must lead to every section, and it
// may load nothing from elsewhere.
TEST(ShippedDataTest, TheManualsContentsReachEverySectionAndItLoadsNothingFromElsewhere) {
  const std::string html = qm::ReadWholeFile(qm::ProgramFolder() + "help/help.html");
  const QString text = QString::fromStdString(html);
  const QStringList idList = Captures(text, R"re(\bid="([^"]+)")re");
  const QSet<QString> ids(idList.begin(), idList.end());
  const QStringList links = Captures(text, R"re(href="#([^"]+)")re");
  const QStringList sections = Captures(text, R"re(<h2 id="([^"]+)")re");
  EXPECT_EQ(ids.size(), idList.size()) << "an id is used twice";
  for (const QString& link : links) EXPECT_TRUE(ids.contains(link)) << "no section for #" << link.toStdString();
  for (const QString& section : sections) {
    if (section != "contents") EXPECT_TRUE(links.contains(section)) << section.toStdString() << " is not in the contents";
  }
  EXPECT_GE(sections.size(), 10);
  EXPECT_FALSE(text.contains(QRegularExpression(R"(\bsrc=|url\(|@import|<link\b)")))
      << "the manual loads something from outside itself";
}

}  // namespace
