// Saved tile servers in the windows: the dialog of one server with its secrets masked, the list
// that stores its choice as it is made, and the Options dialog that shows the choice.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <gtest/gtest.h>

#include "engine/saved_servers.h"
#include "platform/ini_file.h"
#include "tests/ui/ui_test_helpers.h"
#include "ui/Unitoptions.h"
#include "ui/server_dialog.h"
#include "ui/servers_dialog.h"

namespace {

SavedServer Keyed() {
  SavedServer server = NewSavedServer("Keyed");
  server.url = "https://{s}.img.example.org/{z}/{x}/{y}.jpg";
  server.maxZoom = 18;
  server.headers.emplace_back("X-Api-Key", "s3cret");
  return server;
}

TEST(ServerDialogTest, OkStoresTheServerAndAMalformedHeaderLineWritesNothing) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nTileServer=localhost:8080\r\n");
  MessageBoxRecorder boxes;
  ServerDialog dialog(folder.ConfigPath(), NewSavedServer(""), "");
  dialog.show();
  EXPECT_EQ(dialog.MemoHeaders->toPlainText().toStdString(), "User-Agent: " + DefaultUserAgent() + "\n");
  dialog.EditName->setText("Imagery");
  dialog.EditUrl->setText("https://img.example.org/{z}/{x}/{y}.jpg");
  dialog.SpinMaxZoom->setValue(17);
  dialog.MemoHeaders->setPlainText("User-Agent: Mine/1\nX-Api-Key: abc\ndef");  // a value broken over two lines
  dialog.ButtonOk->click();
  ASSERT_EQ(boxes.Calls().size(), 1u);
  EXPECT_EQ(boxes.Calls()[0].text.toStdString(), "The header line \"def\" should be written as Name: value.");
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(folder.ReadConfig(), "[IniParas]\r\nTileServer=localhost:8080\r\n");

  dialog.MemoHeaders->setPlainText("User-Agent: Mine/1\nX-Api-Key: abcdef\n");
  dialog.ButtonOk->click();
  EXPECT_FALSE(dialog.isVisible());
  const std::vector<SavedServer> saved = ReadSavedServers(folder.ConfigPath());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].maxZoom, 17);
  EXPECT_EQ(saved[0].headers, (RequestHeaders{{"User-Agent", "Mine/1"}, {"X-Api-Key", "abcdef"}}));
}

// A key is masked until Show, and stored as typed whether the memo shows it or not.
TEST(ServerDialogTest, SecretHeaderValuesAreMaskedUntilShowAndKeptAsTyped) {
  ProgramFolderForTest folder;
  StoreSavedServer(folder.ConfigPath(), "", Keyed());
  ServerDialog dialog(folder.ConfigPath(), Keyed(), "Keyed");
  dialog.show();
  const std::string agent = "User-Agent: " + DefaultUserAgent() + "\n";
  EXPECT_EQ(dialog.MemoHeaders->toPlainText().toStdString(), agent + "X-Api-Key: ***\n");
  EXPECT_TRUE(dialog.MemoHeaders->isReadOnly());
  dialog.ShowHeaders->click();
  EXPECT_EQ(dialog.MemoHeaders->toPlainText().toStdString(), agent + "X-Api-Key: s3cret\n");
  EXPECT_FALSE(dialog.MemoHeaders->isReadOnly());
  dialog.MemoHeaders->setPlainText("Referer: https://maps.example.org/\nX-Api-Key: n3w\nK: v");
  dialog.ShowHeaders->click();
  EXPECT_EQ(dialog.MemoHeaders->toPlainText(), "Referer: https://maps.example.org/\nX-Api-Key: ***\nK: ***");
  // Show sits under the Headers label, left of the memo.
  EXPECT_LT(dialog.ShowHeaders->mapTo(&dialog, QPoint(dialog.ShowHeaders->width(), 0)).x(), dialog.MemoHeaders->x());
  EXPECT_GE(dialog.ShowHeaders->mapTo(&dialog, QPoint()).y(), dialog.MemoHeaders->y());
  dialog.ButtonOk->click();
  ASSERT_FALSE(dialog.isVisible());
  EXPECT_EQ(ReadSavedServers(folder.ConfigPath())[0].headers,
            (RequestHeaders{{"Referer", "https://maps.example.org/"}, {"X-Api-Key", "n3w"}, {"K", "v"}}));
}

TEST(ServersDialogTest, ListsChoosesEditsAndRemovesServersWithSecretsMasked) {
  ProgramFolderForTest folder;
  StoreSavedServer(folder.ConfigPath(), "", Keyed());
  MessageBoxRecorder boxes;
  ServersDialog dialog(folder.ConfigPath(), "");
  dialog.SetServerEditor([](QWidget*, const std::string& config, const SavedServer& server, const std::string& name) {
    SavedServer edited = server;
    edited.name = name.empty() ? "Added" : "Renamed";
    edited.url = "localhost:8081";
    StoreSavedServer(config, name, edited);
    return std::optional<SavedServer>(edited);
  });
  dialog.show();
  ASSERT_EQ(dialog.ListServers->count(), 2);
  EXPECT_TRUE(dialog.ListServers->item(0)->text().contains("in use"));
  dialog.ListServers->setCurrentRow(1);
  const std::string details = dialog.LabelDetails->text().toStdString();
  EXPECT_NE(details.find("X-Api-Key: ***"), std::string::npos) << details;
  EXPECT_EQ(details.find("s3cret"), std::string::npos) << details;

  const auto stored = [&folder] { return qm::IniFile(folder.ConfigPath()).ReadString("IniParas", "Server", "none"); };
  EXPECT_EQ(stored(), "none") << "a file that never chose a server gets no key";
  dialog.ButtonUse->click();
  EXPECT_EQ(dialog.Chosen(), "Keyed");
  EXPECT_EQ(stored(), "Keyed");
  EXPECT_TRUE(dialog.ListServers->item(1)->text().contains("in use"));
  EXPECT_FALSE(dialog.ListServers->item(0)->text().contains("in use"));
  dialog.ButtonEdit->click();  // renamed, and still the one in use
  EXPECT_EQ(dialog.Chosen(), "Renamed");
  EXPECT_EQ(stored(), "Renamed");
  dialog.ButtonAdd->click();
  ASSERT_EQ(dialog.ListServers->count(), 3);
  EXPECT_EQ(dialog.ListServers->currentItem()->text(), "Added");

  dialog.ListServers->setCurrentRow(1);
  dialog.ButtonRemove->click();
  EXPECT_EQ(dialog.Chosen(), "") << "removing the server in use goes back to the Tile server setting";
  EXPECT_EQ(stored(), "");
  ASSERT_EQ(ReadSavedServers(folder.ConfigPath()).size(), 1u);
  EXPECT_EQ(ReadSavedServers(folder.ConfigPath())[0].name, "Added");
}

TEST(OptionsServersTest, TheChosenServerIsShownInPlaceOfTheTileServerAndStoredOnOk) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nTileServer=localhost:8080\r\n");
  StoreSavedServer(folder.ConfigPath(), "", Keyed());
  TfrmOptions dialog(folder.Path());
  std::string offered = "none";
  std::string answer = "Keyed";
  dialog.SetServerChooser([&](QWidget*, const std::string&, const std::string& chosen) {
    offered = chosen;
    return std::optional<std::string>(answer);
  });
  dialog.show();
  dialog.EditTileServer->setText("127.0.0.1:9000");
  dialog.ButtonServers->click();
  EXPECT_EQ(offered, "");
  EXPECT_FALSE(dialog.EditTileServer->isEnabled());
  EXPECT_EQ(dialog.EditTileServer->text(), "Saved server in use: Keyed");
  EXPECT_TRUE(dialog.EditTileServer->toolTip().contains(QString::fromStdString(Keyed().url)));
  dialog.Button1->click();
  const qm::IniFile config(folder.ConfigPath());
  EXPECT_EQ(config.ReadString("IniParas", "Server", ""), "Keyed");
  EXPECT_EQ(config.ReadString("IniParas", "TileServer", ""), "127.0.0.1:9000") << "the typed host is kept";

  TfrmOptions again(folder.Path());
  again.SetServerChooser([&](QWidget*, const std::string&, const std::string& chosen) {
    offered = chosen;
    return std::optional<std::string>("");
  });
  again.show();
  EXPECT_FALSE(again.EditTileServer->isEnabled());
  again.ButtonServers->click();
  EXPECT_EQ(offered, "Keyed");
  EXPECT_TRUE(again.EditTileServer->isEnabled());
  EXPECT_EQ(again.EditTileServer->text(), "127.0.0.1:9000");
  again.Button1->click();
  EXPECT_EQ(qm::IniFile(folder.ConfigPath()).ReadString("IniParas", "Server", "missing"), "");
}

// The choice made in the Servers dialog holds whatever the Options dialog ends with.
TEST(OptionsServersTest, CancelInOptionsKeepsTheServerChosenWithUse) {
  ProgramFolderForTest folder;
  folder.WriteConfig("[IniParas]\r\nTileServer=localhost:8080\r\n");
  StoreSavedServer(folder.ConfigPath(), "", Keyed());
  TfrmOptions dialog(folder.Path());
  dialog.SetServerChooser([](QWidget* parent, const std::string& config, const std::string& chosen) {
    ServersDialog servers(config, chosen, parent);
    servers.show();
    servers.ListServers->setCurrentRow(1);
    servers.ButtonUse->click();
    servers.ButtonClose->click();
    return std::optional<std::string>(servers.Chosen());
  });
  dialog.show();
  dialog.ButtonServers->click();
  dialog.Button2->click();
  EXPECT_EQ(qm::IniFile(folder.ConfigPath()).ReadString("IniParas", "Server", ""), "Keyed");
  dialog.show();
  EXPECT_FALSE(dialog.EditTileServer->isEnabled());
  EXPECT_EQ(dialog.EditTileServer->text(), "Saved server in use: Keyed");
}

}  // namespace
