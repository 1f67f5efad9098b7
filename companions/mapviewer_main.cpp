// mapviewer: shows a downloaded project's tiles, or a level set's, as one map. Started without
// arguments (as the main window's menu starts it) it opens the project of the last task built.
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "companions/mapviewer_window.h"
#include "platform/program_layout.h"

namespace {

// For timing: QUILLMERE_VIEWER_EXIT_AFTER=paint ends the program after the map's first paint,
// =complete after the first paint that had every image it wanted, printing the time since start.
void ExitAfterPaintWhenAsked(mapview::MapWidget* map, const QElapsedTimer& clock) {
  const char* when = std::getenv("QUILLMERE_VIEWER_EXIT_AFTER");
  if (!when) return;
  const bool needComplete = std::strcmp(when, "complete") == 0;
  QObject::connect(map, &mapview::MapWidget::painted, map, [&clock, needComplete](bool complete) {
    if (needComplete && !complete) return;
    std::fprintf(stderr, "%s after %lld ms\n", needComplete ? "complete view" : "first paint",
                 static_cast<long long>(clock.elapsed()));
    QApplication::exit(0);
  });
}

constexpr int kFailedStatus = 3;

void ReportFailure(const char* what) { std::fprintf(stderr, "mapviewer: %s; the viewer ends.\n", what); }

void ReportFailure(const std::exception& e) {
  ReportFailure(dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what());
}

// An exception that escapes an event handler ends the program with a message instead of
// tearing it down through the event loop.
class GuardedApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ReportFailure(e);
    } catch (...) {
      ReportFailure("an unknown error");
    }
    QApplication::exit(kFailedStatus);
    return false;
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  QElapsedTimer clock;
  clock.start();
  try {
    GuardedApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 2 || (arguments.size() == 2 && arguments[1].startsWith("-"))) {
      std::fprintf(stderr, "Usage: mapviewer [PROJECT.qmtp | SET.qmset]\n");
      return 1;
    }
    MapViewerWindow window(qm::DataFolder());
    if (arguments.size() == 2) {
      window.OpenProject(arguments[1].toStdString());
    } else {
      window.OpenLastProject();
    }
    ExitAfterPaintWhenAsked(window.Map(), clock);
    window.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    ReportFailure(e);
  } catch (...) {
    ReportFailure("an unknown error");
  }
  return kFailedStatus;
}
