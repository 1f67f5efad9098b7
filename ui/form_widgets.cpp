// Pieces shared by the windows: the form font, absolutely placed labels and the up-down spinner.
#include "ui/form_widgets.h"

#include <algorithm>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

namespace qm {

namespace {

QFont SansFont(int pointSize, int stretch) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(pointSize);
  font.setStretch(stretch);
  return font;
}

// The windows are laid out in pixels for a narrow 8 pt face; common system sans fonts are wider,
// so their captions would run into the fields beside them. The font is narrowed (a condensed face
// where the family has one) until a caption of the layout fits the room it is given there.
int FittingStretch() {
  constexpr int kRoom = 68;  // "Left Longitude:" before its field, less a small gap
  const QString caption = QStringLiteral("Left Longitude:");
  int stretch = QFont::Unstretched;
  while (stretch > QFont::UltraCondensed &&
         QFontMetrics(SansFont(8, stretch)).horizontalAdvance(caption) > kRoom) {
    --stretch;
  }
  return stretch;
}

}  // namespace

QFont FormFont(int pointSize, bool bold) {
  static const int stretch = FittingStretch();
  QFont font = SansFont(pointSize, stretch);
  font.setBold(bold);
  return font;
}

QLabel* PlaceLabel(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  label->adjustSize();
  return label;
}

namespace {

// Pasted text keeps its line breaks in a QLineEdit; a one-line field drops them, so that no
// value it hands on can split the line of a settings or project file.
void DropLineBreaks(QLineEdit* edit, const QString& text) {
  if (!text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'))) return;
  const QString beforeCursor = text.left(edit->cursorPosition());
  const QRegularExpression lineBreaks(QStringLiteral("[\r\n]"));
  const qsizetype cursor = QString(beforeCursor).remove(lineBreaks).size();
  edit->setText(QString(text).remove(lineBreaks));
  edit->setCursorPosition(static_cast<int>(cursor));
}

}  // namespace

QLineEdit* PlaceEdit(QWidget* parent, int x, int y, int width, int height, const QString& text) {
  auto* edit = new QLineEdit(parent);
  QObject::connect(edit, &QLineEdit::textChanged, edit,
                   [edit](const QString& changed) { DropLineBreaks(edit, changed); });
  edit->setText(text);
  edit->setGeometry(x, y, width, height);
  return edit;
}

void SetUpFixedDialog(QWidget* dialog, const QString& title, int width, int height,
                      Qt::WindowFlags extraFlags) {
  dialog->setWindowTitle(title);
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint | extraFlags);
  dialog->setFont(FormFont(8));
  dialog->setFixedSize(width, height);
}

void CenterOnScreen(QWidget* window) {
  const QScreen* screen = window->screen();
  if (!screen) return;
  window->move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->frameSize(),
                                   screen->availableGeometry())
                   .topLeft());
}

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  for (QToolButton* button : {up_, down_}) {
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
  }
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
  connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

void UpDown::SetRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = std::max(minimum, maximum);
  SetPosition(position_);
}

void UpDown::SetAssociate(QLineEdit* edit) {
  if (associate_) associate_->removeEventFilter(this);
  associate_ = edit;
  if (associate_) {
    associate_->installEventFilter(this);
    associate_->setText(QString::number(position_));
  }
}

void UpDown::SetPosition(int position) {
  const int clamped = std::clamp(position, minimum_, maximum_);
  const bool changed = clamped != position_;
  position_ = clamped;
  if (associate_) associate_->setText(QString::number(position_));
  if (changed) emit PositionChanged(position_);
}

void UpDown::StepBy(int steps) {
  int base = position_;
  if (associate_) {
    bool isNumber = false;
    const int shown = associate_->text().trimmed().toInt(&isNumber);
    if (isNumber) base = shown;
  }
  // Clamp before adding so that a huge shown value cannot overflow.
  base = std::clamp(base, minimum_ - 1, maximum_ + 1);
  SetPosition(base + steps);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == associate_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      StepBy(key == Qt::Key_Up ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void UpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int upHeight = height() / 2;
  up_->setGeometry(0, 0, width(), upHeight);
  down_->setGeometry(0, upHeight, width(), height() - upHeight);
}

}  // namespace qm
