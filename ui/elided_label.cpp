// The status bar's text: cut to the room it has, whole in the tooltip.
#include "ui/elided_label.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::sizeHint() const { return {0, QLabel::sizeHint().height()}; }

QSize ElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

bool ElidedLabel::Elided() const {
  return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

void ElidedLabel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect room = contentsRect();
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
  painter.drawText(room, static_cast<int>(alignment()) | Qt::TextSingleLine, shown);
}

// A cut text shows in full above whatever tooltip the label was given.
bool ElidedLabel::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && Elided()) {
    const QString extra = toolTip();
    const QString tip = extra.isEmpty() || extra == text() ? text() : text() + "\n" + extra;
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, this);
    return true;
  }
  return QLabel::event(event);
}
