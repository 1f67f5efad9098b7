// Helpers of the window tests: program folders and the message-box recorder.
#include "tests/ui/ui_test_helpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QWidget>

#include "platform/file_ops.h"

void PressKey(QWidget* widget, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(widget, &release);
}

void TypeText(QWidget* widget, const QString& text) {
  for (const QChar c : text) PressKey(widget, c.unicode(), QString(c));
}

bool WaitUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

ProgramFolderForTest::ProgramFolderForTest(bool withIniFolder) {
  if (withIniFolder) qm::CreateDirectory(dir_.Path() + "ini");
}

void ProgramFolderForTest::WriteConfig(const std::string& content) const {
  qm::WriteFileAtomic(ConfigPath(), content);
}

std::string ProgramFolderForTest::ReadConfig() const { return qm::ReadWholeFile(ConfigPath()); }

MessageBoxRecorder::MessageBoxRecorder()
    : previous_(qm::SetMessageBoxSink(
          [this](const qm::MessageBoxCall& call) { calls_.push_back(call); })) {}

MessageBoxRecorder::~MessageBoxRecorder() { qm::SetMessageBoxSink(previous_); }
