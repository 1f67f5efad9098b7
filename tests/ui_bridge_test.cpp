// The pumped bridge: calls from workers run on the owning thread, in order, and release the caller.
#include "platform/ui_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

TEST(PumpedBridge, RunsCallsOnTheOwningThreadAndWaits) {
  qm::PumpedBridge bridge;
  const auto owner = std::this_thread::get_id();
  std::vector<int> seen;  // only touched on the owning thread
  std::atomic<int> returned{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < 50; ++i) {
        bridge.Synchronize([&] {
          EXPECT_EQ(std::this_thread::get_id(), owner);
          seen.push_back(w);
        });
      }
      returned++;
    });
  }
  EXPECT_TRUE(bridge.PumpUntil([&] { return returned == 4; }, std::chrono::seconds(20)));
  for (auto& t : workers) t.join();
  EXPECT_EQ(seen.size(), 200u);
}

TEST(PumpedBridge, AnExceptionOfTheCallReachesTheCaller) {
  qm::PumpedBridge bridge;
  std::atomic<bool> back{false};
  std::string caught;
  std::thread worker([&] {
    try {
      bridge.Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    back = true;
  });
  EXPECT_TRUE(bridge.PumpUntil([&] { return back.load(); }, std::chrono::seconds(20)));
  worker.join();
  EXPECT_EQ(caught, "boom");
}

TEST(PumpedBridge, OwnerCallsRunDirectly) {
  qm::PumpedBridge bridge;
  int ran = 0;
  bridge.Synchronize([&] { ++ran; });
  EXPECT_EQ(ran, 1);
}

}  // namespace
