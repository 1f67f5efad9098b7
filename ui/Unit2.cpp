// The about box: the program's title, the credit line and the home page and mail links.
#include "ui/Unit2.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QUrl>

#include "ui/Unit1.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

TfrmAbout* frmAbout = nullptr;

namespace {

constexpr int kClientWidth = 315;
constexpr int kClientHeight = 181;
constexpr int kPanelHeight = 145;

// A green, underlined label with a hand cursor, for a link; its text is set when the box shows.
QLabel* PlaceLink(QWidget* parent, int x, int y) {
  auto* label = new QLabel(parent);
  label->move(x, y);
  QFont font = label->font();
  font.setUnderline(true);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
  label->setPalette(palette);
  label->setCursor(Qt::PointingHandCursor);
  return label;
}

// A link label shows its URL in full, sized to its text.
void ShowLink(QLabel* link, const std::string& url) {
  link->setText(QString::fromStdString(url));
  link->adjustSize();
}

bool OpenWithDesktop(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent), openUrl_(OpenWithDesktop) {
  qm::SetUpFixedDialog(this, "About", kClientWidth, kClientHeight);
  BuildControls();
  Label4->installEventFilter(this);
  Label7->installEventFilter(this);
  connect(bLater, &QPushButton::clicked, this, &TfrmAbout::bLaterClick);
  qm::CenterOnScreen(this);
}

void TfrmAbout::BuildControls() {
  Panel1 = new QFrame(this);
  Panel1->setGeometry(0, 0, kClientWidth, kPanelHeight);
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);  // lowered outer, raised inner bevel

  Label3 = new QLabel(Panel1);
  Label3->setGeometry(17, 16, 208, 13);
  Label3->setWordWrap(true);
  QFont titleFont = Label3->font();
  titleFont.setUnderline(true);
  Label3->setFont(titleFont);

  Label8 = new QLabel("Developer:  quillmere.example.org", Panel1);
  Label8->setGeometry(17, 36, 168, 16);
  Label5 = qm::PlaceLabel(Panel1, "Homepage:", 16, 89);
  Label4 = PlaceLink(Panel1, 100, 92);
  Label6 = qm::PlaceLabel(Panel1, "Email:", 16, 112);
  Label7 = PlaceLink(Panel1, 100, 112);

  bLater = new QPushButton("&OK", this);
  bLater->setGeometry(232, 151, 81, 25);
  bLater->setDefault(true);
}

const TForm1* TfrmAbout::MainWindow() const {
  if (Form1) return Form1;
  return qobject_cast<const TForm1*>(parentWidget());
}

void TfrmAbout::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A spontaneous show is the window manager restoring the window, not the window being shown.
  if (!event->spontaneous()) qm::RunGuarded([this] { FormShow(); });
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == Label4) Label4Click();
    if (watched == Label7) Label7Click();
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmAbout::FormShow() {
  const TForm1* mainWindow = MainWindow();
  if (!mainWindow) return;
  ShowLink(Label4, mainWindow->HomePageUrl);
  ShowLink(Label7, mainWindow->MailUrl);
  Label3->setText(mainWindow->windowTitle());
}

void TfrmAbout::Label4Click() {
  if (const TForm1* mainWindow = MainWindow()) {
    openUrl_(QUrl(QString::fromStdString(mainWindow->HomePageUrl)));
  }
}

void TfrmAbout::Label7Click() {
  if (const TForm1* mainWindow = MainWindow()) {
    openUrl_(QUrl(QString::fromStdString(mainWindow->MailUrl)));
  }
}

void TfrmAbout::bLaterClick() { accept(); }
