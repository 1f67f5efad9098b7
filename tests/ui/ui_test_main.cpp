// Runs the window tests inside one QApplication on the offscreen platform unless told otherwise.
#include <cstdlib>

#include <QApplication>
#include <QString>
#include <gtest/gtest.h>

namespace {

QtMessageHandler standardHandler = nullptr;

// The offscreen platform reports that it cannot pass size hints on; that says nothing about a test.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains("propagateSizeHints")) return;
  standardHandler(type, context, message);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  standardHandler = qInstallMessageHandler(QuietHandler);
  QApplication application(argc, argv);
  // Tests close windows without any event loop to end.
  QApplication::setQuitOnLastWindowClosed(false);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
