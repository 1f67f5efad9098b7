// The program's bridge from worker threads to the Qt user-interface thread.
#include "ui/qt_ui_bridge.h"

#include <QMetaObject>

namespace qm {

QtUiBridge::QtUiBridge() = default;

void QtUiBridge::PumpQueuedCalls() { Pump(); }

// Only a wake-up crosses Qt's event queue; the call itself is handed over under the bridge's
// mutex.
void QtUiBridge::CallQueued() {
  QMetaObject::invokeMethod(this, "PumpQueuedCalls", Qt::QueuedConnection);
}

}  // namespace qm
