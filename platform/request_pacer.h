// Spacing requests out in time: each start comes a fixed interval after the one before, so that
// no more than a given number start in any second, however many threads ask. Threads get their
// turns in the order they asked.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qm {

class RequestPacer {
 public:
  explicit RequestPacer(int perSecond);

  // Waits for this caller's turn; false, at once, after Cancel.
  bool Acquire();
  // Every waiting and later Acquire returns false.
  void Cancel();

 private:
  std::mutex mutex_;
  std::condition_variable cancelled_;
  std::chrono::steady_clock::duration spacing_;
  std::chrono::steady_clock::time_point next_{};
  bool cancel_ = false;
};

}  // namespace qm
