// The configuration file's location and defaults, and the Options dialog that edits it.
#include "ui/Unitoptions.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStandardPaths>
#include <QToolButton>

#include "engine/saved_server_sections.h"
#include "engine/saved_servers.h"
#include "engine/tile_server_setting.h"
#include "platform/ini_file.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"
#include "ui/servers_dialog.h"

TfrmOptions* frmOptions = nullptr;

namespace qm {

// Qt reads the XDG user-dirs file (XDG_DOWNLOAD_DIR) and falls back to ~/Downloads.
std::string DefaultDownloadPath() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
  return folder.isEmpty() ? QDir::homePath().toStdString() + kPathSeparator + "Downloads" : folder.toStdString();
}

}  // namespace qm

namespace {

constexpr int kClientWidth = 360;
constexpr int kClientHeight = 342;
constexpr int kProxyFieldWidth = 159;
constexpr int kTileServerLeft = 72;
constexpr int kTileServerWidth = 257;
constexpr const char* kServerKey = "Server";
constexpr const char* kTileServerTip =
    "host or host:port of the tile server, e.g. localhost:8080, or a URL template such as\n"
    "https://tiles.example.org/imagery/{z}/{x}/{y}.jpg?key=abc";


QString PickFolderWithDialog(QWidget* parent, const QString& caption) {
  return QFileDialog::getExistingDirectory(parent, caption, QString(), QFileDialog::ShowDirsOnly);
}

QString Text(const std::string& value) { return QString::fromStdString(value); }

std::optional<std::string> ChooseServerWithDialog(QWidget* parent, const std::string& configFile,
                                                  const std::string& chosenName) {
  ServersDialog dialog(configFile, chosenName, parent);
  dialog.exec();
  return dialog.Chosen();
}

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

}  // namespace

TfrmOptions::TfrmOptions(std::string programFolder, QWidget* parent)
    : QDialog(parent),
      programFolder_(std::move(programFolder)),
      pickFolder_(PickFolderWithDialog),
      chooseServer_(ChooseServerWithDialog) {
  qm::SetUpFixedDialog(this, "Options", kClientWidth, kClientHeight);
  BuildControls();
  connect(Button3, &QPushButton::clicked, this, &TfrmOptions::Button3Click);
  connect(Button1, &QPushButton::clicked, this, &TfrmOptions::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TfrmOptions::Button2Click);
  connect(ButtonServers, &QPushButton::clicked, this, &TfrmOptions::ButtonServersClick);
}

void TfrmOptions::BuildControls() {
  Panel1 = new QFrame(this);
  Panel1->setGeometry(8, 10, 337, 87);
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);  // lowered outer, raised inner bevel
  Label1 = qm::PlaceLabel(Panel1, "Default path to save :", 8, 40);
  Edit12 = qm::PlaceEdit(Panel1, 126, 35, 166);
  Button3 = new QPushButton("...", Panel1);
  Button3->setGeometry(296, 32, 33, 25);
  // The tile server takes the panel's whole width after its label: URL templates are long. The
  // saved servers' button sits in the free corner left of OK.
  LabelTileServer = qm::PlaceLabel(Panel1, "Tile server:", 8, 66);
  EditTileServer = qm::PlaceEdit(Panel1, kTileServerLeft, 61, kTileServerWidth);
  ButtonServers = new QPushButton("Servers...", this);
  ButtonServers->setGeometry(8, 304, 80, 25);
  ButtonServers->setToolTip("Saved tile servers with their headers, highest zoom and attribution");

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setGeometry(8, 112, 337, 177);
  CheckBoxUseProxy = new QCheckBox("Use proxy server", GroupBox1);
  CheckBoxUseProxy->move(16, 24);
  CheckBoxUseProxy->adjustSize();
  Label3 = qm::PlaceLabel(GroupBox1, "Proxy Server Name (IP)", 16, 53);
  EditProxyServer = qm::PlaceEdit(GroupBox1, 138, 53, kProxyFieldWidth);
  Label4 = qm::PlaceLabel(GroupBox1, "Proxy Port", 16, 83);
  EditProxyPort = qm::PlaceEdit(GroupBox1, 138, 82, kProxyFieldWidth);
  Label5 = qm::PlaceLabel(GroupBox1, "Proxy Username", 16, 113);
  EditProxyUsername = qm::PlaceEdit(GroupBox1, 138, 111, kProxyFieldWidth);
  Label6 = qm::PlaceLabel(GroupBox1, "Proxy Password", 16, 144);
  EditProxyPassword = qm::PlaceEdit(GroupBox1, 138, 144, kProxyFieldWidth);
  EditProxyPassword->setEchoMode(QLineEdit::Password);
  ShowPassword = new QToolButton(GroupBox1);
  ShowPassword->setText("Show");
  ShowPassword->setCheckable(true);
  ShowPassword->setToolTip("Show the password as typed");
  ShowPassword->setGeometry(300, 144, 32, 21);
  connect(ShowPassword, &QToolButton::toggled, this, [this](bool shown) {
    EditProxyPassword->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
  });

  Button1 = new QPushButton("OK", this);
  Button1->setGeometry(168, 304, 75, 25);
  Button1->setDefault(true);
  Button2 = new QPushButton("Cancel", this);
  Button2->setGeometry(256, 304, 75, 25);
}

std::string TfrmOptions::ConfigFileName() const { return qm::ConfigFilePath(programFolder_); }

void TfrmOptions::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) qm::RunGuarded([this] { FormShow(); });
}

void TfrmOptions::FormShow() {
  const qm::IniFile config(ConfigFileName());
  Edit12->setText(Text(config.ReadString("IniParas", "DefaultPath", qm::DefaultDownloadPath())));
  plainTileServer_ = Text(config.ReadString("IniParas", "TileServer", kDefaultTileServer));
  chosenServer_ = config.ReadString("IniParas", kServerKey, "");
  ShowChosenServer();
  CheckBoxUseProxy->setChecked(config.ReadInteger("Proxy", "UseProxy", 0) == 1);
  EditProxyServer->setText(Text(config.ReadString("Proxy", "ProxyServer", "")));
  EditProxyPort->setText(Text(config.ReadString("Proxy", "ProxyPort", "")));
  EditProxyUsername->setText(Text(config.ReadString("Proxy", "ProxyUsername", "")));
  EditProxyPassword->setText(Text(config.ReadString("Proxy", "ProxyPassword", "")));
  ShowPassword->setChecked(false);
}

// While a saved server is in use the Tile server field is greyed and names it; its tip gives the
// server's URL and how to go back to the field.
void TfrmOptions::ShowChosenServer() {
  EditTileServer->setEnabled(chosenServer_.empty());
  if (chosenServer_.empty()) {
    EditTileServer->setText(plainTileServer_);
    EditTileServer->setToolTip(kTileServerTip);
    return;
  }
  std::string url = "which is not saved";
  for (const SavedServer& server : ReadSavedServers(ConfigFileName())) {
    if (SameServerName(server.name, chosenServer_)) url = server.url;
  }
  EditTileServer->setText(Text("Saved server in use: " + chosenServer_));
  EditTileServer->setToolTip(Text("Downloads use the saved server \"" + chosenServer_ + "\" (" + url +
                                  ") in place of this field; Servers... changes that."));
  EditTileServer->setCursorPosition(0);
}

void TfrmOptions::ButtonServersClick() {
  qm::RunGuarded([this] {
    if (chosenServer_.empty()) plainTileServer_ = EditTileServer->text();
    if (const auto chosen = chooseServer_(this, ConfigFileName(), chosenServer_)) chosenServer_ = *chosen;
    ShowChosenServer();
  });
}

void TfrmOptions::Button3Click() {
  const QString folder = pickFolder_(this, "Select path");
  if (!folder.isEmpty()) Edit12->setText(folder);
}

void TfrmOptions::Button1Click() {
  qm::RunGuarded([this] {
    // Each value goes to the file at once; a failed write leaves the earlier ones stored and the
    // dialog open.
    // A tile server of the wrong form is refused before anything is written.
    if (chosenServer_.empty()) plainTileServer_ = EditTileServer->text();
    if (const auto problem = TileServerProblem(plainTileServer_.toStdString())) {
      qm::ShowMessage(*problem);
      EditTileServer->setFocus();
      return;
    }
    qm::IniFile config(ConfigFileName());
    config.WriteString("IniParas", "DefaultPath", Text(Edit12));
    config.WriteString("IniParas", "TileServer", plainTileServer_.toStdString());
    // A settings file that never chose a saved server gets no key for it.
    if (!chosenServer_.empty() || config.ReadString("IniParas", kServerKey, "\n") != "\n") {
      config.WriteString("IniParas", kServerKey, chosenServer_);
    }
    config.WriteString("Proxy", "UseProxy", CheckBoxUseProxy->isChecked() ? "1" : "0");
    config.WriteString("Proxy", "ProxyServer", Text(EditProxyServer));
    config.WriteString("Proxy", "ProxyPort", Text(EditProxyPort));
    config.WriteString("Proxy", "ProxyUsername", Text(EditProxyUsername));
    config.WriteSecretString("Proxy", "ProxyPassword", Text(EditProxyPassword));
    accept();
  });
}

void TfrmOptions::Button2Click() { reject(); }
