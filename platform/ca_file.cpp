// Checking the extra certificate authority file before a download starts.
#include "platform/ca_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qm {

std::optional<std::string> CaFileProblem() {
  const char* path = std::getenv(kCaFileVariable);
  if (path == nullptr || *path == '\0') return std::nullopt;
  const std::string intro = std::string("The certificate authority file that ") + kCaFileVariable +
                            " names cannot be read: " + path + " (";
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return intro + std::strerror(errno) + ").";
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  if (!regular) return intro + "not a regular file).";
  return std::nullopt;
}

}  // namespace qm
