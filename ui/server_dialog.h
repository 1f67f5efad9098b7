// The dialog that edits one saved tile server: its name, URL template or host, subdomains, highest
// zoom, attribution and request headers. Header values that may be secrets (API keys, tokens) are
// shown as *** until Show is pressed in. OK stores it in the settings file, or says what is wrong
// and stays open with nothing written.
#pragma once

#include <string>

#include <QDialog>

#include "engine/saved_servers.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

class ServerDialog : public QDialog {
  Q_OBJECT

 public:
  // replacedName: the name the server is saved under, empty for a new server.
  ServerDialog(std::string configFile, const SavedServer& server, std::string replacedName,
               QWidget* parent = nullptr);

  // The server as stored by the last successful OK.
  const SavedServer& Stored() const { return stored_; }

  QLineEdit* EditName;
  QLineEdit* EditUrl;
  QLineEdit* EditSubdomains;
  QSpinBox* SpinMaxZoom;
  QLineEdit* EditAttribution;
  QPlainTextEdit* MemoHeaders;  // "Field: value", one a line; read-only while secrets are masked
  QToolButton* ShowHeaders;     // pressed in: the headers as typed, to edit
  QPushButton* ButtonOk;
  QPushButton* ButtonCancel;

 public slots:
  void OkClick();

 private:
  void Fill(const SavedServer& server);
  void ShowHeadersAsTyped(bool shown);
  QString HeadersAsTyped() const;

  std::string configFile_;
  std::string replacedName_;
  SavedServer stored_;
  QString headersAsTyped_;  // while the memo shows them masked
};
