// The program's bridge from worker threads to the Qt user-interface thread.
#pragma once

#include <QObject>

#include "platform/ui_bridge.h"

namespace qm {

// Synchronize from another thread queues fn, wakes the thread that created the bridge (the Qt
// user-interface thread) through its event loop, and blocks until fn has run there; on that
// thread itself fn runs at once. An exception thrown by fn is rethrown in the calling thread.
// The user-interface thread must keep its event loop running while a worker may call in: waiting
// for a worker without processing events deadlocks.
class QtUiBridge : public QObject, public PumpedBridge {
  Q_OBJECT

 public:
  QtUiBridge();

 private slots:
  void PumpQueuedCalls();

 private:
  void CallQueued() override;
};

}  // namespace qm
