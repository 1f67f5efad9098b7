// The program's bridge from worker threads to the Qt user-interface thread.
#include "ui/qt_ui_bridge.h"

#include <exception>

#include <QMetaObject>
#include <QThread>

namespace qm {

QtUiBridge::QtUiBridge() = default;

void QtUiBridge::Synchronize(const std::function<void()>& fn) {
  if (QThread::currentThread() == target_.thread()) {
    fn();
    return;
  }
  std::exception_ptr failure;
  QMetaObject::invokeMethod(
      &target_,
      [&fn, &failure] {
        try {
          fn();
        } catch (...) {
          failure = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace qm
