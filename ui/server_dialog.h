// The dialog that edits one saved tile server: its name, URL template or host, subdomains, highest
// zoom, attribution and request headers. OK stores it in the settings file, or says what is wrong
// and stays open with nothing written.
#pragma once

#include <string>

#include <QDialog>

#include "engine/saved_servers.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

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
  QPlainTextEdit* MemoHeaders;  // "Field: value", one a line
  QPushButton* ButtonOk;
  QPushButton* ButtonCancel;

 public slots:
  void OkClick();

 private:
  void Fill(const SavedServer& server);

  std::string configFile_;
  std::string replacedName_;
  SavedServer stored_;
};
