// The dialog that edits one saved tile server.
#include "ui/server_dialog.h"

#include <stdexcept>

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/form_widgets.h"
#include "ui/message_box.h"

namespace {

constexpr int kClientWidth = 470;
constexpr int kClientHeight = 330;

std::string Text(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

// The header lines with the values that may be secrets as ***; a line that is no header is kept.
QString MaskedHeaderLines(const QString& typed) {
  QStringList lines = typed.split('\n');
  for (QString& line : lines) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) continue;
    const std::string field = line.left(colon).trimmed().toStdString();
    const std::string value = line.mid(colon + 1).trimmed().toStdString();
    line = QString::fromStdString(MaskedHeaderLine({field, value}));
  }
  return lines.join('\n');
}

}  // namespace

ServerDialog::ServerDialog(std::string configFile, const SavedServer& server, std::string replacedName,
                           QWidget* parent)
    : QDialog(parent), configFile_(std::move(configFile)), replacedName_(std::move(replacedName)), stored_(server) {
  qm::SetUpFixedDialog(this, replacedName_.empty() ? "New tile server" : "Tile server", kClientWidth, kClientHeight);
  EditName = new QLineEdit(this);
  EditUrl = new QLineEdit(this);
  EditUrl->setToolTip("A URL template such as https://{s}.tiles.example.org/{z}/{x}/{y}.png, or host:port.\n"
                      "Placeholders: {z} {x} {y} {-y} {q} {s} {switch:a,b,c} {bbox}");
  EditSubdomains = new QLineEdit(this);
  EditSubdomains->setToolTip("The names {s} rotates through: letters (abc) or names separated by commas (t0,t1)");
  SpinMaxZoom = new QSpinBox(this);
  SpinMaxZoom->setRange(0, kHighestServerZoom);
  EditAttribution = new QLineEdit(this);
  MemoHeaders = new QPlainTextEdit(this);
  MemoHeaders->setTabChangesFocus(true);
  MemoHeaders->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoHeaders->setToolTip("One header a line, as Name: value; e.g. Referer: https://maps.example.org/");
  ShowHeaders = new QToolButton(this);
  ShowHeaders->setText("Show");
  ShowHeaders->setCheckable(true);
  ShowHeaders->setToolTip("Show the headers' secret values, such as API keys, to read or edit them");

  auto* form = new QFormLayout;
  form->addRow("Name:", EditName);
  form->addRow("URL or host:", EditUrl);
  form->addRow("Subdomains:", EditSubdomains);
  form->addRow("Highest zoom:", SpinMaxZoom);
  form->addRow("Attribution:", EditAttribution);
  auto* headersLabel = new QWidget(this);
  auto* headersColumn = new QVBoxLayout(headersLabel);
  headersColumn->setContentsMargins(0, 0, 0, 0);
  headersColumn->addWidget(new QLabel("Headers:", headersLabel));
  headersColumn->addWidget(ShowHeaders);
  headersColumn->addStretch();
  form->addRow(headersLabel, MemoHeaders);

  ButtonOk = new QPushButton("OK", this);
  ButtonOk->setDefault(true);
  ButtonCancel = new QPushButton("Cancel", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ButtonOk);
  buttons->addWidget(ButtonCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);

  connect(ButtonOk, &QPushButton::clicked, this, &ServerDialog::OkClick);
  connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ShowHeaders, &QToolButton::toggled, this, &ServerDialog::ShowHeadersAsTyped);
  Fill(server);
}

void ServerDialog::Fill(const SavedServer& server) {
  EditName->setText(QString::fromStdString(server.name));
  EditUrl->setText(QString::fromStdString(server.url));
  EditSubdomains->setText(QString::fromStdString(server.subdomains));
  SpinMaxZoom->setValue(server.maxZoom);
  EditAttribution->setText(QString::fromStdString(server.attribution));
  // Headers without a secret are open to edit at once; a key is masked until Show.
  headersAsTyped_ = QString::fromStdString(HeaderLinesText(server.headers));
  MemoHeaders->setPlainText(headersAsTyped_);
  ShowHeaders->setChecked(!HeadersCarrySecrets(server.headers));
  ShowHeadersAsTyped(ShowHeaders->isChecked());
}

void ServerDialog::ShowHeadersAsTyped(bool shown) {
  if (shown) {
    MemoHeaders->setPlainText(headersAsTyped_);
  } else {
    if (!MemoHeaders->isReadOnly()) headersAsTyped_ = MemoHeaders->toPlainText();
    MemoHeaders->setPlainText(MaskedHeaderLines(headersAsTyped_));
  }
  MemoHeaders->setReadOnly(!shown);
}

QString ServerDialog::HeadersAsTyped() const {
  return MemoHeaders->isReadOnly() ? headersAsTyped_ : MemoHeaders->toPlainText();
}

void ServerDialog::OkClick() {
  qm::RunGuarded([this] {
    SavedServer server;
    server.name = Text(EditName);
    server.url = Text(EditUrl);
    server.subdomains = Text(EditSubdomains);
    server.maxZoom = SpinMaxZoom->value();
    server.attribution = Text(EditAttribution);
    if (const auto problem = ParseHeaderLines(HeadersAsTyped().toStdString(), server.headers)) {
      qm::ShowMessage(*problem);
      ShowHeaders->setChecked(true);  // the line to mend, as typed
      MemoHeaders->setFocus();
      return;
    }
    try {
      StoreSavedServer(configFile_, replacedName_, server);
    } catch (const std::invalid_argument& e) {
      qm::ShowMessage(std::string(e.what()));
      return;
    }
    stored_ = server;
    accept();
  });
}
