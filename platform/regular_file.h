// Opening files that come from outside (tiles, a server's image and keys): regular files up to a
// size only, so a FIFO, a device or an endless file never blocks or floods a thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// An open file descriptor with the file's size; closed when destroyed unless released.
class OpenedFile {
 public:
  OpenedFile() = default;
  OpenedFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~OpenedFile();
  OpenedFile(OpenedFile&& other) noexcept : fd_(other.Release()), size_(other.size_) {}
  OpenedFile& operator=(OpenedFile&& other) noexcept;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  uint64_t Size() const { return size_; }
  int Release();  // hands the descriptor over to whoever closes it then

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// kNoDescriptor: the process or the system has no file descriptor to spare, so whether the file
// is there is not known.
enum class OpenRefusal { kNone, kMissing, kNotRegular, kTooLarge, kNoDescriptor };
enum class Links { kFollow, kRefuse };

// Opens name, relative to the folder open as dirFd (AT_FDCWD for the working folder), for
// reading. Nothing is open when it is missing or unreadable, not a regular file (a link too
// when links are refused), or larger than maxBytes; `refusal` says which.
OpenedFile OpenRegularFile(int dirFd, const std::string& name, Links links, uint64_t maxBytes, OpenRefusal& refusal);

// The whole content of a regular file of at most maxBytes, read from the descriptor that was
// checked; nothing when it is refused (refusal says why) or cannot be read (refusal kNone).
std::optional<std::string> ReadRegularFile(const std::string& path, Links links, uint64_t maxBytes,
                                           OpenRefusal& refusal);

// The whole content of a regular file of at most maxBytes (links followed); throws
// std::runtime_error naming the file and what is wrong with it.
std::string ReadSmallRegularFile(const std::string& path, uint64_t maxBytes);
