// The program's bridge from worker threads to the Qt user-interface thread.
#pragma once

#include <functional>

#include <QObject>

#include "platform/ui_bridge.h"

namespace qm {

// Synchronize from another thread posts fn to the thread that created the bridge (the Qt
// user-interface thread) and blocks until it has run there; on that thread itself fn runs at
// once. An exception thrown by fn is carried back and rethrown in the calling thread.
// The user-interface thread must keep its event loop running while a worker may call in: waiting
// for a worker without processing events deadlocks.
class QtUiBridge : public UiBridge {
 public:
  QtUiBridge();
  void Synchronize(const std::function<void()>& fn) override;

 private:
  QObject target_;  // lives in the user-interface thread; queued calls run in its context
};

}  // namespace qm
