// Message boxes under the application's title and the standard error box.
#include "ui/message_box.h"

#include <exception>
#include <utility>

#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>

#include "platform/errors.h"

namespace qm {
namespace {

MessageBoxSink& Sink() {
  static MessageBoxSink sink;
  return sink;
}

// The box wraps its text at blanks: a sentence ending in a short phrase after a colon ("as Name:
// value.") would be broken inside the phrase. Its last word is kept with the colon.
QString ShownText(const QString& text) {
  static const QRegularExpression kColonBeforeLastWord(QStringLiteral(": (\\S+)$"),
                                                       QRegularExpression::MultilineOption);
  QString shown = text;
  return shown.replace(kColonBeforeLastWord, QStringLiteral(":\u00A0\\1"));
}

void Show(MessageBoxKind kind, const QString& text) {
  const MessageBoxCall call{kind, QString::fromUtf8(kApplicationTitle), text};
  if (Sink()) {
    Sink()(call);
    return;
  }
  QMessageBox box(kind == MessageBoxKind::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                  call.title, ShownText(call.text), QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

bool& SinkAnswer() {
  static bool yes = true;
  return yes;
}

}  // namespace

bool AskYesNo(const QString& text) {
  const MessageBoxCall call{MessageBoxKind::Question, QString::fromUtf8(kApplicationTitle), text};
  if (Sink()) {
    Sink()(call);
    return SinkAnswer();
  }
  QMessageBox box(QMessageBox::Question, call.title, ShownText(call.text), QMessageBox::Yes | QMessageBox::No,
                  QApplication::activeWindow());
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void SetSinkAnswer(bool yes) { SinkAnswer() = yes; }

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
  return std::exchange(Sink(), std::move(sink));
}

void ShowMessage(const QString& text) { Show(MessageBoxKind::Plain, text); }

void ShowMessage(const std::string& text) { ShowMessage(QString::fromStdString(text)); }

void ShowErrorBox(const std::string& message) {
  Show(MessageBoxKind::Error, QString::fromStdString(ErrorBoxText(message)));
}

void RunGuarded(const std::function<void()>& body) noexcept {
  try {
    body();
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  } catch (...) {
    ShowErrorBox("Unknown error");
  }
}

}  // namespace qm
