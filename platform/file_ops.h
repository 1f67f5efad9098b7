// File system operations: existence tests, folder creation, whole-file and atomic writes, copies.
// Paths are plain byte strings; kPathSeparator ends folder paths.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace qm {

inline constexpr char kPathSeparator = '/';

bool FileExists(const std::string& path);       // a regular file (or anything not a folder)
bool DirectoryExists(const std::string& path);
bool PathExists(const std::string& path);
// Creates one folder level; false when it cannot be created (missing parent, no rights).
bool CreateDirectory(const std::string& path);
// Folder of the running executable, ending with kPathSeparator.
std::string ProgramFolder();
// Folder part of a path including its trailing separator, and the name part.
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
// Appends kPathSeparator unless the text already ends with it.
std::string WithTrailingSeparator(const std::string& folder);

// Whole content; throws FileError "Cannot open file <path>".
std::string ReadWholeFile(const std::string& path);

// Writes a file through a temporary file in the same folder renamed over the target, so the
// target is either the old or the complete new content. Throws FileError: "Cannot create file
// <path>" when the temporary file cannot be made, "Unable to write to <path>" when writing or
// renaming fails or the target is read-only.
void WriteFileAtomic(const std::string& path, std::string_view data);

// The same for content produced piece by piece (a tile list of millions of lines).
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(std::string path);  // throws "Cannot create file <path>"
  ~AtomicFileWriter();                          // removes the temporary file unless committed
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  void Write(std::string_view data);  // buffered; throws "Unable to write to <path>"
  void Commit();                      // flushes and renames over the target

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Removes what an interrupted atomic write of target left behind (its temporary files).
void RemoveStaleTemporaryFiles(const std::string& target);

// Appends to a file (created when missing) in one write call; throws FileError.
void AppendToFile(const std::string& path, std::string_view data);

// Copies src to dst only when dst does not exist yet; false when nothing was copied.
bool CopyFileNoOverwrite(const std::string& src, const std::string& dst);

}  // namespace qm
