// The configuration file's location and defaults, and the Options dialog that edits it.
#pragma once

#include <functional>
#include <optional>
#include <utility>
#include <string>

#include <QDialog>

#include "platform/file_ops.h"
#include "platform/program_layout.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace qm {

// The folder offered for downloads until the user sets one: the XDG user-dirs download folder
// when the user's user-dirs.dirs names one, otherwise Downloads in the home folder.
std::string DefaultDownloadPath();

}  // namespace qm

class TfrmOptions : public QDialog {
  Q_OBJECT

 public:
  // Asks the user for a folder; an empty result means the user cancelled.
  using FolderPicker = std::function<QString(QWidget* parent, const QString& caption)>;
  // Lets the user manage the saved servers and choose one (empty: the Tile server setting), which
  // it stores at once; the choice as stored, or none when it is unchanged.
  using ServerChooser = std::function<std::optional<std::string>(QWidget* parent, const std::string& configFile,
                                                                 const std::string& chosenName)>;

  explicit TfrmOptions(std::string programFolder = qm::DataFolder(), QWidget* parent = nullptr);

  std::string ConfigFileName() const;
  void SetFolderPicker(FolderPicker picker) { pickFolder_ = std::move(picker); }
  void SetServerChooser(ServerChooser chooser) { chooseServer_ = std::move(chooser); }
  // The saved server in use ([IniParas] Server); empty for none.
  const std::string& ChosenServer() const { return chosenServer_; }

  QFrame* Panel1;
  QLabel* Label1;
  QLineEdit* Edit12;
  QPushButton* Button3;
  QLabel* LabelTileServer;
  QLineEdit* EditTileServer;  // [IniParas] TileServer: host or host:port; greyed, names a saved server in use
  QPushButton* ButtonServers;  // "Servers...": the saved servers and the choice among them
  QGroupBox* GroupBox1;
  QCheckBox* CheckBoxUseProxy;
  QLabel* Label3;
  QLineEdit* EditProxyServer;
  QLabel* Label4;
  QLineEdit* EditProxyPort;
  QLabel* Label5;
  QLineEdit* EditProxyUsername;
  QLabel* Label6;
  QLineEdit* EditProxyPassword;
  QToolButton* ShowPassword;  // shows the password as typed while pressed in
  QPushButton* Button1;
  QPushButton* Button2;

 public slots:
  void FormShow();
  void Button3Click();
  void Button1Click();
  void Button2Click();
  void ButtonServersClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void ShowChosenServer();

  std::string programFolder_;
  FolderPicker pickFolder_;
  ServerChooser chooseServer_;
  std::string chosenServer_;
  QString plainTileServer_;  // the Tile server field as typed, kept while a saved server is shown
};

extern TfrmOptions* frmOptions;
