// The Options dialog: filling from the configuration file, OK, Cancel and a failed write.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "tests/ui/ui_test_helpers.h"
#include "ui/Unitoptions.h"

namespace {

std::string HomeDownloads() { return QDir::homePath().toStdString() + "/Downloads"; }

void FillFields(TfrmOptions& dialog, bool useProxy) {
  dialog.Edit12->setText("/data/maps");
  dialog.CheckBoxUseProxy->setChecked(useProxy);
  dialog.EditProxyServer->setText("proxy.local");
  dialog.EditProxyPort->setText("80a");
  dialog.EditProxyUsername->setText(" user ");
  dialog.EditProxyPassword->setText("p=w;d");
}

TEST(OptionsDialogTest, OkStoresTheSixValuesAndReopeningShowsThem) {
  ProgramFolderForTest folder;
  TfrmOptions dialog(folder.Path());
  dialog.show();
  FillFields(dialog, true);
  dialog.Button1->click();
  EXPECT_FALSE(dialog.isVisible());

  const std::string text = folder.ReadConfig();
  const std::vector<std::string> inOrder = {
      "[IniParas]",           "DefaultPath=/data/maps",  "[Proxy]",
      "UseProxy=1",           "ProxyServer=proxy.local", "ProxyPort=80a",
      "ProxyUsername= user ", "ProxyPassword=p=w;d"};
  size_t at = 0;
  for (const std::string& piece : inOrder) {
    const size_t found = text.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece << " in order in:\n" << text;
    at = found + piece.size();
  }

  TfrmOptions reopened(folder.Path());
  reopened.show();
  EXPECT_EQ(reopened.Edit12->text(), "/data/maps");
  EXPECT_TRUE(reopened.CheckBoxUseProxy->isChecked());
  EXPECT_EQ(reopened.EditProxyServer->text(), "proxy.local");
  EXPECT_EQ(reopened.EditProxyPort->text(), "80a");
  EXPECT_EQ(reopened.EditProxyPassword->text(), "p=w;d");
  EXPECT_EQ(reopened.EditProxyPassword->echoMode(), QLineEdit::Password);  // shown only on request
}

TEST(OptionsDialogTest, APasswordMakesTheConfigurationReadableByItsOwnerOnly) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[Proxy]\r\nProxyPassword=\r\n");
  ASSERT_EQ(chmod(folder.ConfigPath().c_str(), 0644), 0);
  TfrmOptions dialog(folder.Path());
  dialog.show();
  FillFields(dialog, true);
  dialog.Button1->click();
  struct stat st {};
  ASSERT_EQ(stat(folder.ConfigPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Pasting inserts text with its line breaks; the fields drop them, so the file keeps its lines.
TEST(OptionsDialogTest, PastedLineBreaksNeverReachTheFile) {
  ProgramFolderForTest folder;
  TfrmOptions dialog(folder.Path());
  dialog.show();
  dialog.EditProxyPassword->clear();
  dialog.EditProxyPassword->insert("se\r\ncr");
  dialog.EditProxyPassword->insert("et\n");
  EXPECT_EQ(dialog.EditProxyPassword->text(), "secret");
  dialog.EditProxyServer->setText("proxy\r\n[IniParas]\r\nTileServer=elsewhere");
  dialog.Button1->click();
  EXPECT_FALSE(dialog.isVisible());
  const qm::IniFile config(folder.ConfigPath());
  EXPECT_EQ(config.ReadString("Proxy", "ProxyPassword", "?"), "secret");
  EXPECT_EQ(config.ReadString("Proxy", "ProxyServer", "?"), "proxy[IniParas]TileServer=elsewhere");
  EXPECT_EQ(config.ReadString("IniParas", "TileServer", "none"), "localhost:8080");
}

TEST(OptionsDialogTest, TheTileServerIsShownCheckedAndStored) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nTileServer=tiles.example.org:81\r\n");
  MessageBoxRecorder boxes;
  TfrmOptions dialog(folder.Path());
  dialog.show();
  EXPECT_EQ(dialog.EditTileServer->text(), "tiles.example.org:81");
  dialog.Edit12->setText("/data/elsewhere");
  dialog.EditTileServer->setText("tiles.example.org/x");
  dialog.Button1->click();
  dialog.EditTileServer->setText("http://tiles.example.org");
  dialog.Button1->click();
  ASSERT_EQ(boxes.Calls().size(), 2u);
  EXPECT_NE(boxes.Calls()[0].text.toStdString().find("should be a host name or host:port"), std::string::npos);
  EXPECT_NE(boxes.Calls()[0].text.toStdString().find("or a URL template with {z}, {x} and {y}"), std::string::npos);
  EXPECT_NE(boxes.Calls()[1].text.toStdString().find("it lacks {z}, {x}, {y}"), std::string::npos);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(folder.ReadConfig(), "[IniParas]\r\nTileServer=tiles.example.org:81\r\n");  // nothing written

  dialog.EditTileServer->setText("127.0.0.1:8081");
  dialog.Button1->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(qm::IniFile(folder.ConfigPath()).ReadString("IniParas", "TileServer", ""), "127.0.0.1:8081");

  const char* urlTemplate = "https://tiles.example.org/i/{z}/{x}/{y}.jpg?key=abc";
  TfrmOptions again(folder.Path());
  again.show();
  again.EditTileServer->setText(urlTemplate);
  again.Button1->click();
  EXPECT_FALSE(again.isVisible());
  EXPECT_EQ(qm::IniFile(folder.ConfigPath()).ReadString("IniParas", "TileServer", ""), urlTemplate);

  // A setting longer than the settings file keeps is refused, not cut.
  TfrmOptions third(folder.Path());
  third.show();
  third.EditTileServer->setText(QString("https://tiles.example.org/{z}/{x}/{y}.jpg?key=") + QString(2047, 'k'));
  third.Button1->click();
  EXPECT_TRUE(third.isVisible());
  EXPECT_NE(boxes.Calls().back().text.toStdString().find("the settings file keeps at most 2047"), std::string::npos);
  EXPECT_EQ(qm::IniFile(folder.ConfigPath()).ReadString("IniParas", "TileServer", ""), urlTemplate);
}

TEST(OptionsDialogTest, ThePasswordIsMaskedUntilShowIsPressed) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[Proxy]\r\nProxyPassword=secret\r\n");
  TfrmOptions dialog(folder.Path());
  dialog.show();
  EXPECT_EQ(dialog.EditProxyPassword->echoMode(), QLineEdit::Password);
  dialog.ShowPassword->click();
  EXPECT_EQ(dialog.EditProxyPassword->echoMode(), QLineEdit::Normal);
  dialog.hide();
  dialog.show();  // shown again: masked again
  EXPECT_EQ(dialog.EditProxyPassword->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog.EditProxyPassword->text(), "secret");
}

TEST(OptionsDialogTest, VersionSurvivesRepeatedOks) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nVersion=7.0\r\nTileServer=tiles:81\r\n");
  TfrmOptions dialog(folder.Path());
  for (int round = 0; round < 3; ++round) {
    dialog.show();
    FillFields(dialog, round % 2 == 0);
    dialog.Button1->click();
  }
  const qm::IniFile config(folder.ConfigPath());
  EXPECT_EQ(config.ReadString("IniParas", "Version", "missing"), "7.0");
  EXPECT_EQ(config.ReadString("IniParas", "TileServer", "missing"), "tiles:81");
  EXPECT_EQ(config.ReadString("Proxy", "UseProxy", "missing"), "1");
  EXPECT_NE(folder.ReadConfig().find("[IniParas]\r\nVersion=7.0\r\n"), std::string::npos);
}

TEST(OptionsDialogTest, CancelWritesNothingAndTheNextOpeningShowsTheFile) {
  ProgramFolderForTest folder;
  const std::string stored =
      "[IniParas]\r\nDefaultPath=/kept\r\n[Proxy]\r\nUseProxy=1\r\nProxyServer=old\r\n";
  folder.WriteConfig(stored);
  TfrmOptions dialog(folder.Path());
  dialog.show();
  FillFields(dialog, false);
  dialog.Button2->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(folder.ReadConfig(), stored);

  dialog.show();
  EXPECT_EQ(dialog.Edit12->text(), "/kept");
  EXPECT_TRUE(dialog.CheckBoxUseProxy->isChecked());
  EXPECT_EQ(dialog.EditProxyServer->text(), "old");
  EXPECT_EQ(dialog.EditProxyPort->text(), "");
}

TEST(OptionsDialogTest, EnterOnTheFocusedCancelButtonCancels) {
  ProgramFolderForTest folder;
  const std::string stored = "[IniParas]\r\nDefaultPath=/kept\r\n";
  folder.WriteConfig(stored);
  TfrmOptions dialog(folder.Path());
  dialog.show();
  FillFields(dialog, true);
  dialog.Button2->setFocus();
  PressKey(dialog.Button2, Qt::Key_Return, "\r");
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(folder.ReadConfig(), stored);
}

TEST(OptionsDialogTest, OnlyTheIntegerOneTicksUseProxy) {
  ProgramFolderForTest folder;
  const std::vector<std::pair<std::string, bool>> cases = {
      {"1", true},    {"0x1", true}, {"$1", true},  {" 1", true}, {"+1", true},  {"2", false},
      {"yes", false}, {"", false},   {"-1", false}, {"0", false}, {"1x", false}, {"0x", false}};
  TfrmOptions dialog(folder.Path());
  for (const auto& [stored, ticked] : cases) {
    folder.WriteConfig("[Proxy]\r\nUseProxy=" + stored + "\r\n");
    dialog.show();
    EXPECT_EQ(dialog.CheckBoxUseProxy->isChecked(), ticked) << "UseProxy=" << stored;
    dialog.hide();
  }

  // A value that does not tick the box is stored back as 0 by OK.
  folder.WriteConfig("[Proxy]\r\nUseProxy=yes\r\n");
  dialog.show();
  dialog.Button1->click();
  EXPECT_EQ(qm::IniFile(folder.ConfigPath()).ReadString("Proxy", "UseProxy", ""), "0");
}

TEST(OptionsDialogTest, EmptyFieldsAreStoredEmptyAndReadBackEmpty) {
  ProgramFolderForTest folder;
  TfrmOptions dialog(folder.Path());
  dialog.show();
  EXPECT_EQ(dialog.Edit12->text().toStdString(), HomeDownloads());
  dialog.Edit12->clear();
  dialog.Button1->click();

  const qm::IniFile config(folder.ConfigPath());
  EXPECT_EQ(config.ReadString("IniParas", "DefaultPath", "missing"), "");
  EXPECT_EQ(config.ReadString("Proxy", "UseProxy", "missing"), "0");
  EXPECT_EQ(config.ReadString("Proxy", "ProxyPassword", "missing"), "");
  dialog.show();
  EXPECT_EQ(dialog.Edit12->text(), "");
}

TEST(OptionsDialogTest, WithoutIniFolderShowsDefaultsAndOkReportsUnableToWrite) {
  ProgramFolderForTest folder(/*withIniFolder=*/false);
  MessageBoxRecorder boxes;
  TfrmOptions dialog(folder.Path());
  dialog.show();
  EXPECT_EQ(dialog.Edit12->text().toStdString(), HomeDownloads());
  EXPECT_FALSE(dialog.CheckBoxUseProxy->isChecked());
  EXPECT_EQ(dialog.EditProxyServer->text(), "");
  EXPECT_EQ(dialog.EditProxyUsername->text(), "");

  dialog.Button1->click();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].kind, qm::MessageBoxKind::Error);
  EXPECT_EQ(boxes.Calls()[0].title, "Quillmere");
  EXPECT_EQ(boxes.Calls()[0].text.toStdString(),
            "Unable to write to " + folder.Path() + "ini/config.ini.");
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(qm::PathExists(folder.Path() + "ini"));
}

TEST(OptionsDialogTest, FolderPickerFillsThePathAndCancellingKeepsIt) {
  ProgramFolderForTest folder;
  TfrmOptions dialog(folder.Path());
  QString askedCaption;
  QString answer = "/chosen/folder";
  dialog.SetFolderPicker([&](QWidget*, const QString& caption) {
    askedCaption = caption;
    return answer;
  });
  dialog.show();
  dialog.Button3->click();
  EXPECT_EQ(askedCaption, "Select path");
  EXPECT_EQ(dialog.Edit12->text(), "/chosen/folder");
  answer.clear();
  dialog.Button3->click();
  EXPECT_EQ(dialog.Edit12->text(), "/chosen/folder");
}

}  // namespace
