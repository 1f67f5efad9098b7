// Regular files opened without blocking and checked on the open descriptor, so what is read is
// what was checked.
#include "demo/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

OpenedFile::~OpenedFile() {
  if (fd_ >= 0) close(fd_);
}

OpenedFile& OpenedFile::operator=(OpenedFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    size_ = other.size_;
    fd_ = other.Release();
  }
  return *this;
}

int OpenedFile::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

OpenedFile OpenRegularFile(int dirFd, const std::string& name, Links links, uint64_t maxBytes, OpenRefusal& refusal) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == Links::kRefuse ? O_NOFOLLOW : 0);
  const int fd = openat(dirFd, name.c_str(), flags);
  if (fd < 0) {
    refusal = errno == ELOOP                       ? OpenRefusal::kNotRegular
              : errno == EMFILE || errno == ENFILE ? OpenRefusal::kNoDescriptor
                                                   : OpenRefusal::kMissing;
    return {};
  }
  OpenedFile file(fd, 0);
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    refusal = OpenRefusal::kNotRegular;
    return {};
  }
  if (static_cast<uint64_t>(status.st_size) > maxBytes) {
    refusal = OpenRefusal::kTooLarge;
    return {};
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // readers of the descriptor may expect blocking reads
  refusal = OpenRefusal::kNone;
  return OpenedFile(file.Release(), static_cast<uint64_t>(status.st_size));
}

std::string ReadSmallRegularFile(const std::string& path, uint64_t maxBytes) {
  OpenRefusal refusal = OpenRefusal::kNone;
  const OpenedFile file = OpenRegularFile(AT_FDCWD, path, Links::kFollow, maxBytes, refusal);
  switch (refusal) {
    case OpenRefusal::kMissing:
    case OpenRefusal::kNoDescriptor: throw std::runtime_error("Cannot open file " + path);
    case OpenRefusal::kNotRegular: throw std::runtime_error(path + " is not a regular file");
    case OpenRefusal::kTooLarge:
      throw std::runtime_error(path + " is larger than " + std::to_string(maxBytes) + " bytes");
    case OpenRefusal::kNone: break;
  }
  // Read to the end rather than to the size seen: the file may change meanwhile; the cap holds.
  std::string content;
  char buffer[16384];
  ssize_t n;
  while ((n = read(file.Fd(), buffer, sizeof buffer)) > 0 && content.size() <= maxBytes) {
    content.append(buffer, static_cast<size_t>(n));
  }
  if (n < 0) throw std::runtime_error("Cannot read file " + path);
  if (content.size() > maxBytes) throw std::runtime_error(path + " is larger than " + std::to_string(maxBytes) + " bytes");
  return content;
}
