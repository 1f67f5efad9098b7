// The about box: the program's title, the credit line and the home page and mail links.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAbout(QWidget* parent = nullptr);

  QFrame* Panel1;
  QLabel* Label3;
  QLabel* Label8;
  QLabel* Label5;
  QLabel* Label4;
  QLabel* Label6;
  QLabel* Label7;
  QPushButton* bLater;
};

extern TfrmAbout* frmAbout;
