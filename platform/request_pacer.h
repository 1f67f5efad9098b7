// Spacing requests out in time: each start comes a fixed interval after the one before, so that
// no more than a given number start in any second, however many threads (and users of the same
// pacer) ask. Threads get their turns in the order they asked.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qm {

class RequestPacer {
 public:
  explicit RequestPacer(int perSecond);

  // Waits for this caller's turn; false as soon as abandoned is true (checked at the start, at
  // the turn and whenever WakeAll is called).
  bool Acquire(const std::atomic<bool>& abandoned);
  // Makes every waiting caller look at its abandoned flag again.
  void WakeAll();

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  std::chrono::steady_clock::duration spacing_;
  std::chrono::steady_clock::time_point next_{};
};

}  // namespace qm
