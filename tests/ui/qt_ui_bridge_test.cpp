// The Qt bridge runs a worker's call on the user-interface thread and waits for it.
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

#include "ui/qt_ui_bridge.h"

namespace {

// Processes events until done is set; bounded in time.
bool PumpUntil(const std::atomic<bool>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done;
}

TEST(QtUiBridgeTest, CallFromAWorkerRunsOnTheUiThreadBeforeSynchronizeReturns) {
  qm::QtUiBridge bridge;
  QThread* ranOn = nullptr;
  bool sawResultAfterReturn = false;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    int value = 0;
    bridge.Synchronize([&] {
      ranOn = QThread::currentThread();
      value = 42;
    });
    sawResultAfterReturn = value == 42;
    done = true;
  });
  const bool finished = PumpUntil(done);
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
  EXPECT_TRUE(sawResultAfterReturn);
}

TEST(QtUiBridgeTest, CallOnTheUiThreadRunsAtOnce) {
  qm::QtUiBridge bridge;
  bool ran = false;
  bridge.Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(QtUiBridgeTest, ExceptionIsRethrownInTheCallingWorker) {
  qm::QtUiBridge bridge;
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    try {
      bridge.Synchronize([] { throw std::runtime_error("Unable to write to x"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
    done = true;
  });
  const bool finished = PumpUntil(done);
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(caught, "Unable to write to x");
}

}  // namespace
