// File system operations: existence tests, folder creation, whole-file and atomic writes, copies.
// Paths are plain byte strings; kPathSeparator ends folder paths.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace qm {

inline constexpr char kPathSeparator = '/';

bool FileExists(const std::string& path);       // a regular file (or anything not a folder)
bool DirectoryExists(const std::string& path);
bool PathExists(const std::string& path);
// A regular file, also through symbolic links: not a folder, pipe, device or socket.
bool IsRegularFile(const std::string& path);
// Creates one folder level; false when it cannot be created (missing parent, no rights).
bool CreateDirectory(const std::string& path);
// Folder of the running executable, ending with kPathSeparator.
std::string ProgramFolder();
// Folder part of a path including its trailing separator, and the name part.
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
// Appends kPathSeparator unless the text already ends with it.
std::string WithTrailingSeparator(const std::string& folder);
// The path from the root, for a path named from the current folder; the path itself when the
// current folder cannot be told.
std::string AbsolutePath(const std::string& path);

// Whole content; throws FileError "Cannot open file <path>".
std::string ReadWholeFile(const std::string& path);
// Whether a symbolic link at the end of a path is followed when the file is opened. The files a
// task writes and reads back (its log, its failed-tile list) are never reached through a link
// that someone planted in their place.
enum class Links { kFollowed, kRefused };

// Whole content of a file that holds at most maxBytes; throws FileError "Cannot open file <path>",
// or FileTooLarge "File too large: <path>" when it holds more. Devices and pipes are read too: an
// endless one (/dev/zero) is too large, a pipe without a writer is empty. With Links::kRefused a
// symbolic link in the file's place cannot be opened.
std::string ReadFileUpTo(const std::string& path, std::size_t maxBytes, Links links = Links::kFollowed);
class FileTooLarge : public FileError {
 public:
  explicit FileTooLarge(const std::string& path);  // "File too large: <path>"
};
// ReadFileUpTo for files that must be regular files (one this program wrote): a pipe, a device or
// a socket throws NotRegularFile "Not a regular file: <path>" before a byte is read.
std::string ReadRegularFileUpTo(const std::string& path, std::size_t maxBytes);
class NotRegularFile : public FileError {
 public:
  explicit NotRegularFile(const std::string& path);
};

// Who may read a file that is written whole: kAsBefore gives a new file 0666 less the umask and
// lets an existing file keep its mode; kOwnerOnly makes it 0600 either way (a file with a secret).
enum class FileAccess { kAsBefore, kOwnerOnly };

// Writes a file through a temporary file in the same folder renamed over the target, so the
// target is either the old or the complete new content, also after a power loss: the content is
// flushed to disk before the rename and the folder after it. Throws FileError: "Cannot create
// file <path>" when the temporary file cannot be made, "Unable to write to <path>" when writing,
// flushing or renaming fails or the target is read-only.
void WriteFileAtomic(const std::string& path, std::string_view data,
                     FileAccess access = FileAccess::kAsBefore);

// For many small files that can be fetched again (tiles): the file is never seen half-written
// and a process killed while writing leaves no name behind, because the content goes into an
// unnamed file in the target's folder that gets its name once complete, replacing an existing
// file. Nothing is flushed to disk. Where the file system has no unnamed files, a named temporary
// file is used as by WriteFileAtomic. Throws FileError with the texts of WriteFileAtomic.
void WriteFileAtomicUnflushed(const std::string& path, std::string_view data);

// WriteFileAtomic for content produced piece by piece (a tile list of millions of lines).
class AtomicFileWriter {
 public:
  // Throws "Cannot create file <path>".
  explicit AtomicFileWriter(std::string path, FileAccess access = FileAccess::kAsBefore);
  ~AtomicFileWriter();  // removes the temporary file unless committed
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  void Write(std::string_view data);  // buffered; throws "Unable to write to <path>"
  void Commit();                      // flushes to disk and renames over the target

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Removes what an interrupted atomic write of target left behind (its temporary files).
void RemoveStaleTemporaryFiles(const std::string& target);
// Removes from folder the temporary files (".NAME.XXXXXX", regular files only) of interrupted
// atomic writes of every file NAME that isTarget accepts.
void RemoveStaleTemporaryFilesIn(const std::string& folder,
                                 const std::function<bool(std::string_view name)>& isTarget);

// Writes all of data to fd, going on after short writes and interruptions; false (errno set) when
// the file takes no more.
bool WriteAll(int fd, std::string_view data);

// Appends to a regular file (created when missing) in one write call. A symbolic link, a pipe, a
// device or a folder in its place is never written through: FileError "Unable to write to <path>"
// with the reason, as for any other failure.
void AppendToFile(const std::string& path, std::string_view data);

// Copies src to dst only when dst does not exist yet; false when nothing was copied.
bool CopyFileNoOverwrite(const std::string& src, const std::string& dst);

}  // namespace qm
