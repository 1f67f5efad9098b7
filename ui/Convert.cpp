// The tool window that turns degrees, minutes and seconds into decimal degrees.
#include "ui/Convert.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "engine/dms_converter.h"
#include "platform/text_format.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

TfrmConvert* frmConvert = nullptr;

namespace {

constexpr int kClientWidth = 466;
constexpr int kClientHeight = 99;


std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

}  // namespace

TfrmConvert::TfrmConvert(QWidget* parent, char decimalSeparator)
    : QDialog(parent),
      decimalSeparator_(decimalSeparator ? decimalSeparator : qm::SystemDecimalSeparator()) {
  qm::SetUpFixedDialog(this, "Convert \"Degrees,Minutes,Seconds\" to \"Degrees\"", kClientWidth,
                       kClientHeight, Qt::WindowStaysOnTopHint);

  GroupBox1 = new QGroupBox(this);
  GroupBox1->setGeometry(4, 13, 185, 65);
  Label1 = qm::PlaceLabel(GroupBox1, "Degrees, Minutes, Seconds:", 13, 14);
  Edit1 = qm::PlaceEdit(GroupBox1, 10, 35, 49);
  Edit2 = qm::PlaceEdit(GroupBox1, 61, 35, 49);
  Edit3 = qm::PlaceEdit(GroupBox1, 112, 35, 49);

  Button1 = new QPushButton("convert", this);
  Button1->setGeometry(205, 40, 84, 25);
  Button1->setDefault(true);

  GroupBox2 = new QGroupBox(this);
  GroupBox2->setGeometry(300, 13, 153, 65);
  Label2 = qm::PlaceLabel(GroupBox2, "Degrees:", 13, 13);
  Edit4 = qm::PlaceEdit(GroupBox2, 13, 34, 121);
  Edit4->setReadOnly(true);

  connect(Button1, &QPushButton::clicked, this, &TfrmConvert::Button1Click);
  qm::CenterOnScreen(this);
}

void TfrmConvert::Button1Click() {
  qm::RunGuarded([this] {
    const auto degrees = DmsToDegreesText(Text(Edit1), Text(Edit2), Text(Edit3), decimalSeparator_);
    if (!degrees) {
      qm::ShowMessage(QStringLiteral("Input Error."));
      return;
    }
    Edit4->setText(QString::fromStdString(*degrees));
  });
}
