// The list of saved tile servers: add, edit, remove, and choose the one downloads, the picker and
// the viewer use ("the Tile server setting" for none). Servers are stored as they are added,
// edited or removed, and the choice ([IniParas] Server) as it is made, so that no Cancel of this
// or an outer dialog leaves a choice half made or naming a server removed.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>

#include "engine/saved_servers.h"

class QLabel;
class QListWidget;
class QPushButton;

class ServersDialog : public QDialog {
  Q_OBJECT

 public:
  // Edits a server in its own dialog (which stores it); the stored server, or none when cancelled.
  using ServerEditor = std::function<std::optional<SavedServer>(QWidget* parent, const std::string& configFile,
                                                                const SavedServer& server,
                                                                const std::string& replacedName)>;

  ServersDialog(std::string configFile, std::string chosenName, QWidget* parent = nullptr);
  void SetServerEditor(ServerEditor editor) { editServer_ = std::move(editor); }

  // The chosen server's name, as stored; empty for the plain Tile server setting.
  const std::string& Chosen() const { return chosen_; }

  QListWidget* ListServers;  // row 0: the Tile server setting; then each saved server
  QLabel* LabelDetails;      // the selected server's URL, zoom, attribution and headers, secrets masked
  QPushButton* ButtonAdd;
  QPushButton* ButtonEdit;
  QPushButton* ButtonRemove;
  QPushButton* ButtonUse;
  QPushButton* ButtonClose;

 public slots:
  void AddClick();
  void EditClick();
  void RemoveClick();
  void UseClick();

 private:
  void Choose(std::string name);
  void Reload(const std::string& selectName);
  void ShowDetails();
  // The saved server of the selected row; none for row 0 or no selection.
  const SavedServer* Selected() const;

  std::string configFile_;
  std::string chosen_;
  std::vector<SavedServer> servers_;
  ServerEditor editServer_;
};
