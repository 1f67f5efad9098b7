// The window that downloads the tiles of a failed-tile list again.
#pragma once

#include <QDialog>

class QFrame;
class QPlainTextEdit;
class QPushButton;

class TfrmFlt : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmFlt(QWidget* parent = nullptr);

  QFrame* Panel1;
  QPushButton* Button1;
  QFrame* Panel2;
  QPlainTextEdit* Memo1;
};

extern TfrmFlt* frmFlt;
