// The in-memory working copy of a text file that grows line by line (the log, the failed-tile
// list), saved back so that the file always ends up as "every line + CR LF".
#pragma once

#include <string>
#include <vector>

class WorkingCopy {
 public:
  // Replaces the lines with the file's lines; throws qm::FileError when it cannot be read or a
  // symbolic link stands in its place.
  void LoadFromFile(const std::string& path);
  void Clear();
  void Append(std::string line);
  const std::vector<std::string>& Lines() const { return lines_; }

  // Makes the file hold exactly every line + CR LF. While the file is as the last save left it,
  // only the new lines are appended, in one write; otherwise (a symbolic link put in its place
  // included) it is rewritten atomically. Throws qm::FileError.
  void SaveToFile(const std::string& path);

 private:
  void Rewrite(const std::string& path);

  std::vector<std::string> lines_;
  std::string savedPath_;
  size_t savedLines_ = 0;
  // What the file looked like right after the last save; a file that differs in any of these
  // was changed by someone else and is rewritten whole.
  struct FileStamp {
    long long bytes = -1;  // -1: no save yet
    long long inode = 0;
    long long modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
  };
  static FileStamp StampOf(const std::string& path);
  FileStamp saved_;
};
