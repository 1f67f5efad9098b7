// The tool window that turns degrees, minutes and seconds into decimal degrees.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmConvert : public QDialog {
  Q_OBJECT

 public:
  // decimalSeparator: the separator of the result; by default the system's.
  explicit TfrmConvert(QWidget* parent = nullptr, char decimalSeparator = 0);

  QGroupBox* GroupBox1;
  QLabel* Label1;
  QLineEdit* Edit1;
  QLineEdit* Edit2;
  QLineEdit* Edit3;
  QPushButton* Button1;
  QGroupBox* GroupBox2;
  QLabel* Label2;
  QLineEdit* Edit4;

 public slots:
  void Button1Click();

 private:
  char decimalSeparator_;
};

extern TfrmConvert* frmConvert;
