// File system operations over POSIX: existence, folders, atomic whole-file writes, safe copies.
#include "platform/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "platform/errors.h"

namespace qm {

namespace {

bool StatPath(const std::string& path, struct stat& st) {
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

// The mode a new file gets: 0666 less the process's umask (read without changing it).
mode_t NewFileMode() {
  static const mode_t mode = [] {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, status) != nullptr) {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1) mask = static_cast<mode_t>(value);
      }
      std::fclose(status);
    }
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// Owns an open file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  bool Close() {
    const bool ok = fd_ < 0 || ::close(fd_) == 0;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const std::string folder = ExtractFilePath(path);
  return folder.empty() ? "." : folder;
}

// The mode the new content of path gets. A folder or a read-only file is refused.
mode_t ReplacementMode(const std::string& path, FileAccess access) {
  if (path.empty() || path.back() == kPathSeparator) throw FileError(CannotCreateFileText(path));
  struct stat target {};
  const bool exists = StatPath(path, target);
  if (exists && (S_ISDIR(target.st_mode) || (target.st_mode & S_IWUSR) == 0)) {
    throw FileError(UnableToWriteText(path));
  }
  if (access == FileAccess::kOwnerOnly) return S_IRUSR | S_IWUSR;
  return exists ? static_cast<mode_t>(target.st_mode & 07777) : NewFileMode();
}

// A file that could not be created in the folder of path: a missing folder is a write failure.
[[noreturn]] void ThrowCreateFailure(const std::string& path, int error) {
  if (error == ENOENT || error == ENOTDIR) throw FileError(UnableToWriteText(path));
  throw FileError(CannotCreateFileText(path));
}

// Makes the renames in the folder of path survive a power loss.
bool FlushFolderOf(const std::string& path) {
  const Descriptor folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0) return false;
  return ::fsync(folder.Get()) == 0 || errno == EINVAL;  // EINVAL: folders cannot be flushed there
}

// The name of a temporary file of path: ".NAME." and six letters or digits, in path's folder.
std::string TemporaryNamePattern(const std::string& path) {
  return ExtractFilePath(path) + "." + ExtractFileName(path) + ".XXXXXX";
}

std::string RandomTemporaryName(const std::string& path) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  std::string name = TemporaryNamePattern(path);
  for (size_t i = name.size() - 6; i < name.size(); ++i) name[i] = kLetters[pick(engine)];
  return name;
}

// A named temporary file beside the target that replaces the target when committed and is
// removed when dropped before.
class NamedTemporary {
 public:
  NamedTemporary(const std::string& target, mode_t mode) : target_(target) {
    std::string name = TemporaryNamePattern(target);
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) ThrowCreateFailure(target, errno);
    name_ = std::move(name);
    ::fchmod(fd_, mode);
  }
  ~NamedTemporary() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(name_.c_str());
  }
  NamedTemporary(const NamedTemporary&) = delete;
  NamedTemporary& operator=(const NamedTemporary&) = delete;

  void Write(std::string_view data) {
    if (!WriteAll(fd_, data)) throw FileError(UnableToWriteText(target_));
  }
  void Commit(bool flushToDisk) {
    const bool flushed = !flushToDisk || ::fdatasync(fd_) == 0;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!flushed || !closed || ::rename(name_.c_str(), target_.c_str()) != 0) {
      throw FileError(UnableToWriteText(target_));
    }
    committed_ = true;
    if (flushToDisk && !FlushFolderOf(target_)) throw FileError(UnableToWriteText(target_));
  }

 private:
  const std::string target_;
  std::string name_;
  int fd_ = -1;
  bool committed_ = false;
};

// An unnamed file in the folder of path (O_TMPFILE); -1 with errno set when none can be made.
int OpenUnnamed(const std::string& path, mode_t mode) {
  return ::open(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

// The errors of a file system or kernel without unnamed files.
bool LacksUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Gives the unnamed file fd the name path; fails with EEXIST when the name is taken.
bool LinkUnnamed(int fd, const std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  // Without /proc the descriptor itself is linked, which needs the right to do so.
  return errno == ENOENT && ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

// Names the complete unnamed file fd path, over an existing file too: linking refuses a taken
// name, so then it gets a free temporary name first and that is renamed over the target.
bool NameUnnamed(int fd, const std::string& path) {
  if (LinkUnnamed(fd, path)) return true;
  if (errno != EEXIST) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temporary = RandomTemporaryName(path);
    if (LinkUnnamed(fd, temporary)) {
      if (::rename(temporary.c_str(), path.c_str()) == 0) return true;
      ::unlink(temporary.c_str());
      return false;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && S_ISREG(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, st);
}

bool CreateDirectory(const std::string& path) {
  return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

std::string ProgramFolder() {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return "";
  return ExtractFilePath(std::string(buf.data(), static_cast<size_t>(n)));
}

std::string ExtractFilePath(const std::string& path) {
  const size_t slash = path.rfind(kPathSeparator);
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  const size_t slash = path.rfind(kPathSeparator);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AbsolutePath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

std::string WithTrailingSeparator(const std::string& folder) {
  if (!folder.empty() && folder.back() == kPathSeparator) return folder;
  return folder + kPathSeparator;
}

FileTooLarge::FileTooLarge(const std::string& path) : FileError("File too large: " + path) {}
NotRegularFile::NotRegularFile(const std::string& path) : FileError("Not a regular file: " + path) {}

std::string ReadWholeFile(const std::string& path) {
  return ReadFileUpTo(path, std::numeric_limits<std::size_t>::max() - 1);
}

namespace {

std::string ReadUpTo(const std::string& path, std::size_t maxBytes, Links links, bool regularOnly) {
  // Opened without blocking, so that a pipe nobody writes to reads as empty instead of waiting;
  // reading itself blocks again, as a pipe that is being written needs.
  const int noFollow = links == Links::kRefused ? O_NOFOLLOW : 0;
  const Descriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow));
  if (in.Get() < 0 && noFollow != 0 && errno == ELOOP) {
    throw FileError(CannotOpenFileText(path) + ": it is a symbolic link, which is not followed");
  }
  struct stat st {};
  if (in.Get() < 0 || ::fstat(in.Get(), &st) != 0 || S_ISDIR(st.st_mode)) {
    throw FileError(CannotOpenFileText(path));
  }
  if (regularOnly && !S_ISREG(st.st_mode)) throw NotRegularFile(path);
  ::fcntl(in.Get(), F_SETFL, ::fcntl(in.Get(), F_GETFL) & ~O_NONBLOCK);
  const bool regular = S_ISREG(st.st_mode);
  if (regular && static_cast<std::uint64_t>(st.st_size) > maxBytes) throw FileTooLarge(path);
  std::string content;
  if (regular) content.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  // One byte beyond the limit tells a file that is too large (or endless, as /dev/zero) from one
  // that just fits.
  while (content.size() <= maxBytes) {
    const std::size_t want = std::min(sizeof buf, maxBytes - content.size() + 1);
    const ssize_t n = ::read(in.Get(), buf, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileError(CannotOpenFileText(path));
    if (n == 0) return content;
    content.append(buf, static_cast<size_t>(n));
  }
  throw FileTooLarge(path);
}

}  // namespace

std::string ReadFileUpTo(const std::string& path, std::size_t maxBytes, Links links) {
  return ReadUpTo(path, maxBytes, links, false);
}

std::string ReadRegularFileUpTo(const std::string& path, std::size_t maxBytes) {
  return ReadUpTo(path, maxBytes, Links::kFollowed, true);
}

struct AtomicFileWriter::State {
  State(std::string target, FileAccess access)
      : path(std::move(target)), file(path, ReplacementMode(path, access)) {}

  std::string path;
  NamedTemporary file;
  std::string buffer;

  void Flush() {
    file.Write(buffer);
    buffer.clear();
  }
};

AtomicFileWriter::AtomicFileWriter(std::string path, FileAccess access)
    : state_(std::make_unique<State>(std::move(path), access)) {}

AtomicFileWriter::~AtomicFileWriter() = default;

void AtomicFileWriter::Write(std::string_view data) {
  constexpr size_t kBufferBytes = 1u << 20;
  constexpr size_t kDirectBytes = 1u << 16;  // pieces this large go out without a copy
  if (state_->buffer.empty() && data.size() >= kDirectBytes) {
    state_->file.Write(data);
    return;
  }
  state_->buffer.append(data);
  if (state_->buffer.size() >= kBufferBytes) state_->Flush();
}

void AtomicFileWriter::Commit() {
  state_->Flush();
  state_->file.Commit(/*flushToDisk=*/true);
}

void WriteFileAtomic(const std::string& path, std::string_view data, FileAccess access) {
  AtomicFileWriter writer(path, access);
  writer.Write(data);
  writer.Commit();
}

void WriteFileAtomicUnflushed(const std::string& path, std::string_view data) {
  const mode_t mode = ReplacementMode(path, FileAccess::kAsBefore);
  Descriptor file(OpenUnnamed(path, mode));
  if (file.Get() < 0) {
    if (!LacksUnnamedFiles(errno)) ThrowCreateFailure(path, errno);
    NamedTemporary named(path, mode);
    named.Write(data);
    named.Commit(/*flushToDisk=*/false);
    return;
  }
  ::fchmod(file.Get(), mode);  // the mode exactly, whatever the umask
  if (!WriteAll(file.Get(), data) || !NameUnnamed(file.Get(), path) || !file.Close()) {
    throw FileError(UnableToWriteText(path));
  }
}

void RemoveStaleTemporaryFiles(const std::string& target) {
  const std::string name = ExtractFileName(target);
  RemoveStaleTemporaryFilesIn(ExtractFilePath(target),
                              [&name](std::string_view candidate) { return candidate == name; });
}

void RemoveStaleTemporaryFilesIn(const std::string& folder,
                                 const std::function<bool(std::string_view name)>& isTarget) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  const int dirFd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    // ".NAME.XXXXXX": a dot, the name, a dot and six characters.
    const std::string_view name = entry->d_name;
    if (name.size() < 9 || name.front() != '.' || name[name.size() - 7] != '.') continue;
    if (!isTarget(name.substr(1, name.size() - 8))) continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
      ::unlinkat(dirFd, entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

void AppendToFile(const std::string& path, std::string_view data) {
  // Not blocking: a pipe without a reader fails at once instead of holding the writer.
  const Descriptor file(
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
  struct stat st {};
  if (file.Get() < 0) {
    const int error = errno;
    if (error == ELOOP || error == ENXIO || error == EISDIR) {
      throw FileError(UnableToWriteText(path) + ": it is a symbolic link, a pipe or a folder, not a regular file");
    }
    if (error == EACCES && PathExists(path)) throw FileError(UnableToWriteText(path));
    throw FileError(CannotCreateFileText(path));
  }
  if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw FileError(UnableToWriteText(path) + ": it is a device or a pipe, not a regular file");
  }
  // A file without its owner's write bit counts as read-only, for root too.
  if ((st.st_mode & S_IWUSR) == 0 || !WriteAll(file.Get(), data)) throw FileError(UnableToWriteText(path));
}

namespace {

bool CopyAll(int in, int out) {
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    if (!WriteAll(out, std::string_view(buf, static_cast<size_t>(n)))) return false;
  }
}

// Where there are no unnamed files: the copy is made under its name directly.
bool CopyUnderTheName(int in, const std::string& dst) {
  const Descriptor out(::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NewFileMode()));
  if (out.Get() < 0) return false;
  if (CopyAll(in, out.Get())) return true;
  ::unlink(dst.c_str());
  return false;
}

}  // namespace

// The copy is complete before it gets its name, so a process killed while copying leaves no
// partial file under dst; linking refuses a taken name, which keeps an existing dst untouched.
bool CopyFileNoOverwrite(const std::string& src, const std::string& dst) {
  const Descriptor in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0 || FileExists(dst)) return false;
  const mode_t mode = NewFileMode();
  const Descriptor out(OpenUnnamed(dst, mode));
  if (out.Get() < 0) return LacksUnnamedFiles(errno) && CopyUnderTheName(in.Get(), dst);
  ::fchmod(out.Get(), mode);
  return CopyAll(in.Get(), out.Get()) && LinkUnnamed(out.Get(), dst);
}

}  // namespace qm
