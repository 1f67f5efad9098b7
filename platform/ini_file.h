// Ini files (settings and project files): read a value with a default, write a value in place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_ops.h"

namespace qm {

// Every call opens the file anew; nothing is cached. Section and key names match without regard
// to case, blanks around keys and values are trimmed, ";" lines are comments, the first of
// duplicate keys wins, values are cut at 2047 characters.
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  // A missing file, section or key gives the default; a present empty value gives "".
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // The stored text by the integer rule; missing, empty or not an integer gives the default.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;

  // Replaces the key's value in place, or adds the key at the end of its section, or the section
  // at the end of the file; every other line stays byte for byte; CR LF line ends; atomic and
  // flushed to disk.
  // Throws FileError "Unable to write to <path>" (missing folder, read-only file).
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
  void Replace(std::string_view section, const std::vector<KeyValuePair>& values,
               FileAccess access);

  std::string path_;
};

}  // namespace qm
