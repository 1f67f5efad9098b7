// Program start: the application object, the five windows and the message loop.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <QApplication>
#include <QByteArray>

#include "platform/http_client.h"
#include "ui/Convert.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unitftl.h"
#include "ui/Unitoptions.h"
#include "ui/form_widgets.h"
#include "ui/message_box.h"

namespace {

// Catches what an event handler lets escape, shows it in the standard error box and lets the
// message loop go on. Handlers guard their own bodies; this is the net under all of them.
class Application : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      qm::ShowErrorBox(e.what());
    } catch (...) {
      qm::ShowErrorBox("Unknown error");
    }
    return false;
  }
};

constexpr const char* kNoDisplayText =
    "Quillmere needs a graphical display (X11 or Wayland), and none could be opened.\n";

QtMessageHandler qtDefaultHandler = nullptr;
QByteArray platformWarnings;

// While the application object is set up, a fatal message means that no window system could be
// reached: Qt would abort with its plugin message, so the program says it plainly and exits 1.
// Where a display was named, the platform plugin's own words follow, as they tell why.
void StartUpMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    std::fputs(kNoDisplayText, stderr);
    if (std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr) {
      std::fputs(platformWarnings.constData(), stderr);
    }
    std::_Exit(1);
  }
  if (context.category != nullptr && QByteArray(context.category).startsWith("qt.qpa")) {
    platformWarnings += QByteArray(context.category) + ": " + message.toLocal8Bit() + "\n";
    return;
  }
  if (qtDefaultHandler != nullptr) qtDefaultHandler(type, context, message);
}

int Run() {
  // The windows are children of the main window (so the dialogs stay in front of it) and are
  // destroyed with it.
  TForm1 mainWindow;
  Form1 = &mainWindow;
  frmAbout = new TfrmAbout(&mainWindow);
  frmConvert = new TfrmConvert(&mainWindow);
  frmOptions = new TfrmOptions(mainWindow.ProgramFolder(), &mainWindow);
  frmFlt = new TfrmFlt(&mainWindow);
  qm::CenterOnScreen(&mainWindow);
  mainWindow.show();
  const int result = QApplication::exec();
  Form1 = nullptr;
  frmAbout = nullptr;
  frmConvert = nullptr;
  frmOptions = nullptr;
  frmFlt = nullptr;
  return result;
}

}  // namespace

int main(int argc, char* argv[]) {
  qtDefaultHandler = qInstallMessageHandler(StartUpMessageHandler);
  Application application(argc, argv);
  qInstallMessageHandler(qtDefaultHandler);
  if (!platformWarnings.isEmpty()) std::fputs(platformWarnings.constData(), stderr);
  // Only the name: a display name would be appended to every window's title bar.
  QApplication::setApplicationName(qm::kApplicationTitle);
  try {
    qm::HttpGlobalInit();
    return Run();
  } catch (const std::exception& e) {
    qm::ShowErrorBox(e.what());
  } catch (...) {
    qm::ShowErrorBox("Unknown error");
  }
  return 1;
}
