// Regular files opened without blocking and checked on the open descriptor, so what is read is
// what was checked.
#include "platform/regular_file.h"

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

std::optional<std::string> ReadRegularFile(const std::string& path, Links links, uint64_t maxBytes,
                                           OpenRefusal& refusal) {
  const OpenedFile file = OpenRegularFile(AT_FDCWD, path, links, maxBytes, refusal);
  if (!file.IsOpen()) return std::nullopt;
  // Read to the end rather than to the size seen: the file may grow meanwhile; the cap holds.
  std::string content;
  content.reserve(file.Size());
  char buffer[65536];
  while (content.size() <= maxBytes) {
    const ssize_t n = read(file.Fd(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return content;
    content.append(buffer, static_cast<size_t>(n));
  }
  refusal = OpenRefusal::kTooLarge;
  return std::nullopt;
}

std::string ReadSmallRegularFile(const std::string& path, uint64_t maxBytes) {
  OpenRefusal refusal = OpenRefusal::kNone;
  std::optional<std::string> content = ReadRegularFile(path, Links::kFollow, maxBytes, refusal);
  switch (refusal) {
    case OpenRefusal::kMissing:
    case OpenRefusal::kNoDescriptor: throw std::runtime_error("Cannot open file " + path);
    case OpenRefusal::kNotRegular: throw std::runtime_error(path + " is not a regular file");
    case OpenRefusal::kTooLarge:
      throw std::runtime_error(path + " is larger than " + std::to_string(maxBytes) + " bytes");
    case OpenRefusal::kNone: break;
  }
  if (!content) throw std::runtime_error("Cannot read file " + path);
  return std::move(*content);
}
