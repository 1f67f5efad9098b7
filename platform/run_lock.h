// One run at a time on a project or level set: an advisory lock on a small hidden file beside it,
// held for the length of the run and let go by the system when the process ends in any way.
#pragma once

#include <stdexcept>
#include <string>

namespace qm {

// Another process (or another run of this one) holds the lock; what() says so for the user.
class InUseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ".NAME.qmtp.lock" beside "NAME.qmtp". The project file itself is replaced by rename on every
// save, so a lock on it would not hold; this file is never replaced while locked.
std::string LockFileOf(const std::string& file);

class RunLock {
 public:
  RunLock() = default;  // holds nothing
  ~RunLock() { Release(); }
  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&& other) noexcept;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // The lock of file for this run. Throws InUseError "FILE is being downloaded by another process
  // (PID)" when it is held, FileError when the lock file cannot be made or is not a plain file
  // (a link, a pipe or a device put in its place is never opened for writing).
  static RunLock Take(const std::string& file);

  bool Held() const { return fd_ >= 0; }
  // Removes the lock file and lets the lock go; nothing when none is held.
  void Release();

 private:
  RunLock(int fd, std::string lockFile) : fd_(fd), lockFile_(std::move(lockFile)) {}

  int fd_ = -1;
  std::string lockFile_;
};

}  // namespace qm
