// Turns of a request pacer.
#include "platform/request_pacer.h"

#include <algorithm>

namespace qm {

namespace {

// A little over a second divided by the rate, so that clock granularity and the network's jitter
// cannot squeeze one more start into a second as the server sees it.
constexpr auto kMargin = std::chrono::milliseconds(5);

}  // namespace

RequestPacer::RequestPacer(int perSecond)
    : spacing_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::seconds(1)) /
                   std::max(perSecond, 1) +
               kMargin) {}

bool RequestPacer::Acquire(const std::atomic<bool>& abandoned) {
  std::unique_lock lock(mutex_);
  if (abandoned.load()) return false;
  const auto turn = std::max(std::chrono::steady_clock::now(), next_);
  next_ = turn + spacing_;
  return !woken_.wait_until(lock, turn, [&abandoned] { return abandoned.load(); });
}

void RequestPacer::WakeAll() {
  { std::lock_guard lock(mutex_); }  // a caller between its check and its wait sees the flag set
  woken_.notify_all();
}

}  // namespace qm
