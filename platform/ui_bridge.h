// How worker threads reach the user-interface thread: run a function there and wait for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace qm {

class UiBridge {
 public:
  virtual ~UiBridge() = default;
  // Runs fn on the user-interface thread and returns once it has run there.
  virtual void Synchronize(const std::function<void()>& fn) = 0;
};

// A bridge whose user-interface thread is the thread that created it and calls Pump: calls from
// other threads queue up and wait until that thread pumps them. For tests and non-Qt front ends.
class PumpedBridge : public UiBridge {
 public:
  PumpedBridge();
  void Synchronize(const std::function<void()>& fn) override;
  // Runs every queued call; returns how many ran. Only on the owning thread.
  int Pump();
  // Pumps until pred() holds or the timeout passes; returns pred(). Only on the owning thread.
  bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

 private:
  struct Call {
    const std::function<void()>* fn;
    bool done = false;
  };
  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<Call*> calls_;
};

}  // namespace qm
