// The tool window that turns degrees, minutes and seconds into decimal degrees.
#include "ui/Convert.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/form_widgets.h"

TfrmConvert* frmConvert = nullptr;

namespace {

constexpr int kClientWidth = 466;
constexpr int kClientHeight = 99;

QLineEdit* PlaceEdit(QWidget* parent, int x, int y, int width) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(x, y, width, 21);
  return edit;
}

}  // namespace

TfrmConvert::TfrmConvert(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Convert \"Degrees,Minutes,Seconds\" to \"Degrees\"");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint |
                 Qt::WindowStaysOnTopHint);
  setFont(qm::FormFont(8));
  setFixedSize(kClientWidth, kClientHeight);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setGeometry(4, 13, 185, 65);
  Label1 = qm::PlaceLabel(GroupBox1, "Degrees, Minutes, Seconds:", 13, 14);
  Edit1 = PlaceEdit(GroupBox1, 10, 35, 49);
  Edit2 = PlaceEdit(GroupBox1, 61, 35, 49);
  Edit3 = PlaceEdit(GroupBox1, 112, 35, 49);

  Button1 = new QPushButton("convert", this);
  Button1->setGeometry(205, 40, 84, 25);
  Button1->setDefault(true);

  GroupBox2 = new QGroupBox(this);
  GroupBox2->setGeometry(300, 13, 153, 65);
  Label2 = qm::PlaceLabel(GroupBox2, "Degrees:", 13, 13);
  Edit4 = PlaceEdit(GroupBox2, 13, 34, 121);
  Edit4->setReadOnly(true);

  qm::CenterOnScreen(this);
}
