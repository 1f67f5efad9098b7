// The pumped bridge: calls from other threads wait in a queue until the owning thread runs them.
#include "platform/ui_bridge.h"

#include <utility>

namespace qm {

PumpedBridge::PumpedBridge() : owner_(std::this_thread::get_id()) {}

void PumpedBridge::Synchronize(const std::function<void()>& fn) {
  if (std::this_thread::get_id() == owner_) {
    fn();
    return;
  }
  Call call{&fn, nullptr, false, {}};
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(&call);
    queued_.notify_all();
  }
  CallQueued();
  std::unique_lock lock(mutex_);
  call.finished.wait(lock, [&] { return call.done; });
  if (call.failure) std::rethrow_exception(call.failure);
}

int PumpedBridge::Pump() {
  int ran = 0;
  for (;;) {
    Call* call = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (calls_.empty()) return ran;
      call = calls_.front();
      calls_.pop_front();
    }
    std::exception_ptr failure;
    try {
      (*call->fn)();
    } catch (...) {
      failure = std::current_exception();
    }
    ++ran;
    // Notified under the lock: the caller cannot return (and destroy call) before we let go.
    std::lock_guard lock(mutex_);
    call->failure = std::move(failure);  // only the caller keeps the exception alive
    call->done = true;
    call->finished.notify_one();
  }
}

bool PumpedBridge::PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    Pump();
    if (pred()) return true;
    std::unique_lock lock(mutex_);
    if (std::chrono::steady_clock::now() >= deadline) return false;
    queued_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                    std::chrono::milliseconds(5)),
                       [&] { return !calls_.empty(); });
  }
}

}  // namespace qm
