// File system operations over POSIX: existence, folders, atomic whole-file writes, safe copies.
#include "platform/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/errors.h"

namespace qm {

namespace {

bool StatPath(const std::string& path, struct stat& st) {
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
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

// A file without its owner's write bit counts as read-only, for root too.
bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return StatPath(path, st) && S_ISDIR(st.st_mode);
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

std::string WithTrailingSeparator(const std::string& folder) {
  if (!folder.empty() && folder.back() == kPathSeparator) return folder;
  return folder + kPathSeparator;
}

std::string ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || DirectoryExists(path)) {
    if (fd >= 0) ::close(fd);
    throw FileError(CannotOpenFileText(path));
  }
  std::string content;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      throw FileError(CannotOpenFileText(path));
    }
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return content;
}

struct AtomicFileWriter::State {
  std::string path;
  std::string tempPath;
  int fd = -1;
  std::string buffer;
  bool committed = false;

  void Flush() {
    if (!WriteAll(fd, buffer)) throw FileError(UnableToWriteText(path));
    buffer.clear();
  }
};

AtomicFileWriter::AtomicFileWriter(std::string path) : state_(std::make_unique<State>()) {
  state_->path = std::move(path);
  if (state_->path.empty() || state_->path.back() == kPathSeparator) {
    throw FileError(CannotCreateFileText(state_->path));
  }
  // One look at the target: a folder or a read-only file is refused, a file keeps its mode.
  struct stat target {};
  const bool exists = StatPath(state_->path, target);
  if (exists && (S_ISDIR(target.st_mode) || (target.st_mode & S_IWUSR) == 0)) {
    throw FileError(UnableToWriteText(state_->path));
  }
  const mode_t mode = exists ? static_cast<mode_t>(target.st_mode & 07777) : NewFileMode();
  std::string pattern = ExtractFilePath(state_->path) + "." + ExtractFileName(state_->path) + ".XXXXXX";
  state_->fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (state_->fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw FileError(UnableToWriteText(state_->path));
    throw FileError(CannotCreateFileText(state_->path));
  }
  ::fchmod(state_->fd, mode);
  state_->tempPath = pattern;
}

AtomicFileWriter::~AtomicFileWriter() {
  if (state_->fd >= 0) ::close(state_->fd);
  if (!state_->committed && !state_->tempPath.empty()) ::unlink(state_->tempPath.c_str());
}

void AtomicFileWriter::Write(std::string_view data) {
  constexpr size_t kBufferBytes = 1u << 20;
  constexpr size_t kDirectBytes = 1u << 16;  // pieces this large go out without a copy
  if (state_->buffer.empty() && data.size() >= kDirectBytes) {
    if (!WriteAll(state_->fd, data)) throw FileError(UnableToWriteText(state_->path));
    return;
  }
  state_->buffer.append(data);
  if (state_->buffer.size() >= kBufferBytes) state_->Flush();
}

void AtomicFileWriter::Commit() {
  state_->Flush();
  if (::close(state_->fd) != 0) {
    state_->fd = -1;
    throw FileError(UnableToWriteText(state_->path));
  }
  state_->fd = -1;
  if (::rename(state_->tempPath.c_str(), state_->path.c_str()) != 0) {
    throw FileError(UnableToWriteText(state_->path));
  }
  state_->committed = true;
}

void WriteFileAtomic(const std::string& path, std::string_view data) {
  AtomicFileWriter writer(path);
  writer.Write(data);
  writer.Commit();
}

void RemoveStaleTemporaryFiles(const std::string& target) {
  const std::string folder = ExtractFilePath(target);
  const std::string prefix = "." + ExtractFileName(target) + ".";
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const bool temporary = name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0;
    if (temporary && FileExists(folder + name)) ::unlink((folder + name).c_str());
  }
  ::closedir(dir);
}

void AppendToFile(const std::string& path, std::string_view data) {
  if (IsReadOnlyFile(path)) throw FileError(UnableToWriteText(path));
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw FileError(CannotCreateFileText(path));
  const bool ok = WriteAll(fd, data);
  ::close(fd);
  if (!ok) throw FileError(UnableToWriteText(path));
}

bool CopyFileNoOverwrite(const std::string& src, const std::string& dst) {
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    ::close(in);
    return false;
  }
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!WriteAll(out, std::string_view(buf, static_cast<size_t>(n)))) {
      ok = false;
      break;
    }
  }
  ::close(in);
  ::close(out);
  if (!ok) ::unlink(dst.c_str());
  return ok;
}

}  // namespace qm
