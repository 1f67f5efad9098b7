// Program start: the application object, the five windows and the message loop.
#include <exception>

#include <QApplication>

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
  Application application(argc, argv);
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
