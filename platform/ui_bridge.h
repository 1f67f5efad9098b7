// How worker threads reach the user-interface thread: run a function there and wait for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
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
// other threads queue up and wait until that thread pumps them. An exception thrown by a call is
// rethrown in the thread that made it. Every hand-over goes through the bridge's own mutex, so
// thread checkers see it whatever wakes the owning thread.
class PumpedBridge : public UiBridge {
 public:
  PumpedBridge();
  ~PumpedBridge() override = default;
  void Synchronize(const std::function<void()>& fn) override;
  // Runs every queued call; returns how many ran. Only on the owning thread.
  int Pump();
  // Pumps until pred() holds or the timeout passes; returns pred(). Only on the owning thread.
  bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

 protected:
  // Called in the calling thread once a call is queued; a front end wakes its owning thread here.
  virtual void CallQueued() {}

 private:
  struct Call {
    const std::function<void()>* fn;
    std::exception_ptr failure;
    bool done = false;
    std::condition_variable finished;  // only its own caller waits here: no herd of wake-ups
  };
  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<Call*> calls_;
};

}  // namespace qm
