// Partial files: created exclusively, locked with flock while written (the kernel drops the lock
// when the writer dies, however it dies), flushed and renamed when complete.
#include "mosaic/partial_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "mosaic/mosaic_source.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

namespace {

constexpr std::string_view kSuffix = ".partial";
constexpr size_t kBufferSize = 1 << 16;

bool FlushToDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;  // EINVAL: a file system that cannot flush
  ::close(fd);
  return ok;
}

std::string FolderOf(const std::string& path) {
  const std::string folder = qm::ExtractFilePath(path);
  return folder.empty() ? "." : folder;
}

// The writer's process id in ".NAME.PID.partial", or 0 when the name is not of that form.
pid_t WriterOf(std::string_view name) {
  if (name.size() <= kSuffix.size() + 3 || name.front() != '.' || !name.ends_with(kSuffix)) return 0;
  name.remove_suffix(kSuffix.size());
  const size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string_view::npos || dot + 1 == name.size()) return 0;
  pid_t pid = 0;
  for (const char c : name.substr(dot + 1)) {
    if (c < '0' || c > '9' || pid > 99999999) return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

bool ProcessRuns(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

std::string WithReason(const std::string& text, const std::string& reason) {
  return reason.empty() ? text : text + " (" + reason + ")";
}

std::string UnableToWriteBecause(const std::string& path, const std::string& reason) {
  return WithReason(qm::UnableToWriteText(path), reason);
}

std::string PartialPathFor(const std::string& target) {
  return qm::ExtractFilePath(target) + "." + qm::ExtractFileName(target) + "." + std::to_string(::getpid()) +
         std::string(kSuffix);
}

PartialFile::PartialFile(std::string target) : target_(std::move(target)), path_(PartialPathFor(target_)) {
  ::unlink(path_.c_str());  // left by an ended process that had the same id
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  // Blocking: another run looking for leftovers may hold the lock for a moment.
  if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) {
    const std::string reason = std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    throw MosaicError(WithReason(qm::CannotCreateFileText(target_), reason));
  }
}

PartialFile::~PartialFile() {
  if (!committed_) ::unlink(path_.c_str());
  if (fd_ >= 0) ::close(fd_);  // after the unlink, so no other run sees it unlocked
}

void PartialFile::WriteBuffer() {
  if (!qm::WriteAll(fd_, buffer_)) throw MosaicError(UnableToWriteBecause(target_, std::strerror(errno)));
  buffer_.clear();
}

void PartialFile::Append(std::string_view data) {
  buffer_ += data;
  if (buffer_.size() >= kBufferSize) WriteBuffer();
}

void PartialFile::Commit() {
  WriteBuffer();
  // Another writer may have written by the name, so the flush goes through the name too.
  if (!FlushToDisk(path_) || ::rename(path_.c_str(), target_.c_str()) != 0) {
    throw MosaicError(UnableToWriteBecause(target_, std::strerror(errno)));
  }
  committed_ = true;
  FlushToDisk(FolderOf(target_));
}

std::vector<LeftoverPartial> ClearLeftoverPartials(const std::string& folder) {
  std::vector<LeftoverPartial> found;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return found;
  const std::string prefix = folder.empty() ? "" : qm::WithTrailingSeparator(folder);
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t writer = WriterOf(entry->d_name);
    if (writer == 0 || writer == ::getpid()) continue;
    const std::string path = prefix + entry->d_name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      continue;
    }
    // A live writer holds the lock from the moment its empty file exists.
    const bool unlocked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const bool ended = unlocked && (st.st_size > 0 || !ProcessRuns(writer));
    LeftoverPartial leftover{path, st.st_size, ended && ::unlink(path.c_str()) == 0};
    ::close(fd);
    if (leftover.removed || !unlocked) found.push_back(leftover);
  }
  ::closedir(dir);
  return found;
}

std::string LeftoverText(const LeftoverPartial& leftover) {
  char size[32];
  std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(leftover.bytes) / 1e6);
  return leftover.removed ? "Removed " + leftover.path + " (" + size + "), left by an interrupted run."
                          : leftover.path + " (" + size + ") is being written by another run.";
}
