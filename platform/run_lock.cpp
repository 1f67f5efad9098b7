// The run lock: flock on a lock file that names its holder's process id.
#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "platform/errors.h"
#include "platform/file_ops.h"

namespace qm {

namespace {

// A holder that removes its lock file between our open and our lock sends us round again; more
// rounds than this mean someone keeps replacing the file.
constexpr int kOpenRounds = 16;
// The holder writes its id right after taking the lock: a reader that finds none yet looks again.
constexpr int kIdReads = 50;

std::string NotALockFileText(const std::string& lockFile) {
  return "The lock file " + lockFile + " is not a plain file (a folder, a link, a pipe or a device): remove it and start again";
}

// Opens the lock file for writing, creating it; refuses anything but a plain file of one name,
// so that neither a link nor a second name of another file is ever written to.
int OpenLockFile(const std::string& lockFile) {
  struct stat st {};
  if (::lstat(lockFile.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) throw FileError(NotALockFileText(lockFile));
  // A link put in its place after the look above makes the open fail rather than follow it.
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) throw FileError(CannotCreateFileText(lockFile));
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    ::close(fd);
    throw FileError(NotALockFileText(lockFile));
  }
  return fd;
}

// Whether the name still leads to the open file: its last holder removes it when letting go.
bool StillNamed(int fd, const std::string& lockFile) {
  struct stat opened {}, named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(lockFile.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

// The digits of the holder's id, never any other byte of the file.
std::string HolderId(int fd) {
  for (int read = 0; read < kIdReads; ++read) {
    std::array<char, 24> text{};
    const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
    std::string digits;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) digits += text[i];
    if (!digits.empty()) return digits;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return "process id unknown";
}

void WriteOwnId(int fd) {
  const std::string id = std::to_string(::getpid()) + "\n";
  // The id only names the holder in a refusal: a lock whose id cannot be written still holds.
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, id.data(), id.size(), 0);
}

}  // namespace

std::string LockFileOf(const std::string& file) { return ExtractFilePath(file) + "." + ExtractFileName(file) + ".lock"; }

RunLock::RunLock(RunLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), lockFile_(std::move(other.lockFile_)) {}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    lockFile_ = std::move(other.lockFile_);
  }
  return *this;
}

RunLock RunLock::Take(const std::string& file) {
  const std::string lockFile = LockFileOf(file);
  for (int round = 0; round < kOpenRounds; ++round) {
    const int fd = OpenLockFile(lockFile);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      const std::string holder = error == EWOULDBLOCK ? HolderId(fd) : "";
      ::close(fd);
      if (error == EWOULDBLOCK) throw InUseError(file + " is being downloaded by another process (" + holder + ")");
      // A file system without locks: the run goes on as it did before there were any.
      return RunLock();
    }
    if (StillNamed(fd, lockFile)) {
      WriteOwnId(fd);
      return RunLock(fd, lockFile);
    }
    ::close(fd);
  }
  throw InUseError(file + " is being downloaded by another process (its lock file keeps being replaced)");
}

void RunLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held, so that whoever opened it meanwhile finds it gone and makes a new one.
  if (StillNamed(fd_, lockFile_)) ::unlink(lockFile_.c_str());
  ::close(fd_);
  fd_ = -1;
}

}  // namespace qm
