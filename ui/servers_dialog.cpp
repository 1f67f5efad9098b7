// The list of saved tile servers and the choice among them.
#include "ui/servers_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/saved_server_sections.h"
#include "platform/ini_file.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"
#include "ui/server_dialog.h"

namespace {

constexpr int kClientWidth = 470;
constexpr int kClientHeight = 320;
constexpr const char* kPlainSettingRow = "The Tile server setting (no saved server)";
constexpr const char* kInUseMark = "  \u2714 in use";
constexpr const char* kServerKey = "Server";

std::optional<SavedServer> EditInDialog(QWidget* parent, const std::string& configFile, const SavedServer& server,
                                        const std::string& replacedName) {
  ServerDialog dialog(configFile, server, replacedName, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Stored();
}

std::string DetailsText(const SavedServer& server) {
  std::string text = server.url + "\nHighest zoom " + std::to_string(server.maxZoom);
  if (server.url.find("{s}") != std::string::npos) text += ", subdomains " + server.subdomains;
  if (!server.attribution.empty()) text += "\n" + server.attribution;
  for (const auto& header : server.headers) text += "\n" + MaskedHeaderLine(header);
  return text;
}

}  // namespace

ServersDialog::ServersDialog(std::string configFile, std::string chosenName, QWidget* parent)
    : QDialog(parent), configFile_(std::move(configFile)), chosen_(std::move(chosenName)), editServer_(EditInDialog) {
  qm::SetUpFixedDialog(this, "Tile servers", kClientWidth, kClientHeight);
  ListServers = new QListWidget(this);
  LabelDetails = new QLabel(this);
  LabelDetails->setWordWrap(true);
  LabelDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);
  LabelDetails->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  LabelDetails->setMinimumHeight(84);
  ButtonAdd = new QPushButton("Add...", this);
  ButtonEdit = new QPushButton("Edit...", this);
  ButtonRemove = new QPushButton("Remove", this);
  ButtonUse = new QPushButton("Use", this);
  ButtonClose = new QPushButton("Close", this);
  ButtonClose->setDefault(true);

  auto* side = new QVBoxLayout;
  for (QPushButton* button : {ButtonAdd, ButtonEdit, ButtonRemove, ButtonUse}) side->addWidget(button);
  side->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(ListServers, 1);
  top->addLayout(side);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(ButtonClose);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(LabelDetails);
  layout->addLayout(bottom);

  connect(ButtonAdd, &QPushButton::clicked, this, &ServersDialog::AddClick);
  connect(ButtonEdit, &QPushButton::clicked, this, &ServersDialog::EditClick);
  connect(ButtonRemove, &QPushButton::clicked, this, &ServersDialog::RemoveClick);
  connect(ButtonUse, &QPushButton::clicked, this, &ServersDialog::UseClick);
  connect(ListServers, &QListWidget::itemDoubleClicked, this, &ServersDialog::UseClick);
  connect(ListServers, &QListWidget::currentRowChanged, this, &ServersDialog::ShowDetails);
  connect(ButtonClose, &QPushButton::clicked, this, &QDialog::accept);
  qm::RunGuarded([this] { Reload(chosen_); });
}

void ServersDialog::Reload(const std::string& selectName) {
  servers_ = ReadSavedServers(configFile_);
  ListServers->clear();
  ListServers->addItem(QString(kPlainSettingRow) + (chosen_.empty() ? kInUseMark : ""));
  int selectRow = 0;
  for (const SavedServer& server : servers_) {
    const bool inUse = SameServerName(server.name, chosen_);
    ListServers->addItem(QString::fromStdString(server.name) + (inUse ? kInUseMark : ""));
    if (SameServerName(server.name, selectName)) selectRow = ListServers->count() - 1;
  }
  ListServers->setCurrentRow(selectRow);
  ShowDetails();
}

const SavedServer* ServersDialog::Selected() const {
  const int row = ListServers->currentRow();
  return row >= 1 && row <= static_cast<int>(servers_.size()) ? &servers_[static_cast<size_t>(row - 1)] : nullptr;
}

void ServersDialog::ShowDetails() {
  const SavedServer* server = Selected();
  LabelDetails->setText(server != nullptr ? QString::fromStdString(DetailsText(*server))
                                          : "Downloads use the Tile server field of the Options, with no header of "
                                            "their own.");
  ButtonEdit->setEnabled(server != nullptr);
  ButtonRemove->setEnabled(server != nullptr);
}

void ServersDialog::AddClick() {
  qm::RunGuarded([this] {
    if (const auto stored = editServer_(this, configFile_, NewSavedServer(""), "")) Reload(stored->name);
  });
}

void ServersDialog::EditClick() {
  qm::RunGuarded([this] {
    const SavedServer* server = Selected();
    if (server == nullptr) return;
    const std::string oldName = server->name;
    const auto stored = editServer_(this, configFile_, *server, oldName);
    if (!stored) return;
    if (SameServerName(chosen_, oldName)) Choose(stored->name);  // a renamed server stays the one in use
    Reload(stored->name);
  });
}

void ServersDialog::RemoveClick() {
  qm::RunGuarded([this] {
    const SavedServer* server = Selected();
    if (server == nullptr || !qm::AskYesNo(QString::fromStdString("Remove the server \"" + server->name + "\"?"))) {
      return;
    }
    const std::string name = server->name;
    RemoveSavedServer(configFile_, name);
    if (SameServerName(chosen_, name)) Choose("");
    Reload("");
  });
}

void ServersDialog::UseClick() {
  qm::RunGuarded([this] {
    const SavedServer* server = Selected();
    Choose(server != nullptr ? server->name : "");
    Reload(chosen_);
  });
}

// A settings file that never chose a saved server gets no key for it.
void ServersDialog::Choose(std::string name) {
  qm::IniFile config(configFile_);
  if (!name.empty() || config.ReadString("IniParas", kServerKey, "\n") != "\n") {
    config.WriteString("IniParas", kServerKey, name);
  }
  chosen_ = std::move(name);
}
