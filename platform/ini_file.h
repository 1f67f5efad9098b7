// Ini files (settings and project files): read a value with a default, write a value in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_ops.h"

namespace qm {

// The file is read and parsed once and every key is answered from that, until the file changes on
// disk (another inode, size or time stamp), when the next read takes it in again. Section and key
// names match without regard to case, blanks around keys and values are trimmed, ";" lines are
// comments, only the first of sections of the same name counts, the first of duplicate keys
// wins, values are cut at 2047 characters, a UTF-8 byte order mark at the start is no part of
// the first line.
class IniFile {
 public:
  // Settings and project files hold a few dozen short keys; a file beyond this is not one.
  static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

  explicit IniFile(std::string path);
  ~IniFile();
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;
  const std::string& Path() const { return path_; }

  // A missing or unreadable file, section or key gives the default; a present empty value gives
  // "". Throws FileTooLarge for a file over kMaxFileBytes (an endless device included).
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // The stored text by the integer rule; missing, empty or not an integer gives the default.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
  // The names of the section's keys as written, in the file's order, from every section of that
  // name, a key written twice named twice: what a reader of a hand-edited file checks it by.
  std::vector<std::string> KeyNames(std::string_view section) const;

  // Replaces the key's value in place, or adds the key at the end of its section, or the section
  // at the end of the file; every other line stays byte for byte; CR LF line ends; atomic and
  // flushed to disk.
  // Throws FileError "Unable to write to <path>" (missing folder, read-only file), FileTooLarge
  // for a file over kMaxFileBytes.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);
  // Several keys of one section in a single replacement of the file, so that a crash never
  // leaves some of them written and others not.
  using KeyValuePair = std::pair<std::string, std::string>;
  void WriteStrings(std::string_view section, const std::vector<KeyValuePair>& values);
  // WriteString for a secret such as a password: a non-empty value makes the file readable and
  // writable by its owner only (created so, or tightened); an empty one leaves the mode alone.
  void WriteSecretString(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Snapshot;
  void Replace(std::string_view section, const std::vector<KeyValuePair>& values,
               FileAccess access);
  std::shared_ptr<const Snapshot> Current() const;

  std::string path_;
  mutable std::mutex mutex_;
  mutable std::shared_ptr<const Snapshot> snapshot_;
};

}  // namespace qm
