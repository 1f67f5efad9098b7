// Ini-file reading with defaults and in-place writing that keeps every other line byte for byte.
#include "platform/ini_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/text_format.h"

namespace qm {

namespace {

constexpr size_t kMaxValueLength = 2047;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string Lowered(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = Lower(c);
  return out;
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  return text;
}

// Lines with their terminators (CR LF, LF or CR) kept, so untouched lines are rewritten as read.
std::vector<std::string_view> SplitKeepingEnds(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back(text.substr(start, i + 1 - start));
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string_view WithoutEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

// The section name of a "[name]" line, or nothing for other lines.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(WithoutEnd(line));
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const size_t close = line.find(']');
  return Trim(close == std::string_view::npos ? line : line.substr(0, close));
}

// Key and value of a "key=value" line, or nothing for comments and other lines.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line) {
  line = WithoutEnd(line);
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::make_pair(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
}

// Where a key lives in the file: the index of its line, or where a new key would go.
struct KeyPlace {
  bool sectionFound = false;
  std::optional<size_t> keyLine;
  size_t insertAt = 0;  // after the last non-blank line of the section
};

KeyPlace FindKey(const std::vector<std::string_view>& lines, std::string_view section,
                 std::string_view key) {
  KeyPlace place;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (auto name = SectionName(lines[i])) {
      if (place.sectionFound && inSection) break;
      inSection = SameName(*name, section);
      if (inSection) {
        place.sectionFound = true;
        place.insertAt = i + 1;
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(WithoutEnd(lines[i])).empty()) place.insertAt = i + 1;
    auto kv = KeyValue(lines[i]);
    if (kv && SameName(kv->first, key)) {
      place.keyLine = i;
      return place;
    }
  }
  return place;
}

// Identifies one version of a file: an atomic replace gives a new inode, an edit in place a new
// size or time stamp.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileStamp& o) const {
    auto same = [](timespec a, timespec b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    return device == o.device && inode == o.inode && size == o.size && same(modified, o.modified) &&
           same(changed, o.changed);
  }
};

// The stamp of a regular file; nothing for a missing file or a device or pipe, which has no
// version to remember.
std::optional<FileStamp> StampOfRegularFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// The content of an existing file, or nothing for a missing or unreadable one; a file over the
// limit is refused.
std::optional<std::string> ReadFileIfAny(const std::string& path) {
  if (!FileExists(path)) return std::nullopt;
  try {
    return ReadFileUpTo(path, IniFile::kMaxFileBytes);
  } catch (const FileTooLarge&) {
    throw;
  } catch (const FileError&) {
    return std::nullopt;
  }
}

std::string Joined(const std::vector<std::string_view>& lines) {
  std::string out;
  for (std::string_view line : lines) {
    out.append(line);
  }
  return out;
}

// The text with the key's value replaced in place, or the key added at the end of its section,
// or the section added at the end; every other line stays byte for byte.
std::string WithValue(const std::string& content, std::string_view section, std::string_view key,
                      std::string_view value) {
  const std::string_view text = WithoutByteOrderMark(content);
  const std::string_view mark(content.data(), content.size() - text.size());
  std::vector<std::string_view> lines = SplitKeepingEnds(text);
  const std::string newLine = std::string(key) + "=" + std::string(value) + "\r\n";
  const std::string newSection = "[" + std::string(section) + "]\r\n" + newLine;
  const KeyPlace place = FindKey(lines, section, key);
  // A last line without its end that gets a line after it needs one.
  const std::string lastWithEnd = lines.empty() ? "" : std::string(WithoutEnd(lines.back())) + "\r\n";
  auto terminateLast = [&](size_t before) {
    if (before == lines.size() && !lines.empty() && lines.back() == WithoutEnd(lines.back())) {
      lines.back() = lastWithEnd;
    }
  };
  if (place.keyLine) {
    lines[*place.keyLine] = newLine;
  } else if (place.sectionFound) {
    terminateLast(place.insertAt);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.insertAt), newLine);
  } else {
    terminateLast(lines.size());
    lines.push_back(newSection);
  }
  return std::string(mark) + Joined(lines);
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

// Every key's value, under its section's and its own lower-case name.
struct IniFile::Snapshot {
  std::optional<FileStamp> stamp;
  std::unordered_map<std::string, std::string> values;
  // Under each lower-case section name, its keys as written, from every section of that name.
  std::unordered_map<std::string, std::vector<std::string>> keyNames;

  static std::string Name(std::string_view section, std::string_view key) {
    return Lowered(section) + '\n' + Lowered(key);
  }

  // Lookups behave as FindKey does: the first section of a name, the first key in it.
  void Parse(std::string_view text) {
    std::unordered_set<std::string> sectionsSeen;
    std::optional<std::string> section;
    std::optional<std::string> anySection;  // also a section whose name came before
    for (std::string_view line : SplitKeepingEnds(WithoutByteOrderMark(text))) {
      if (auto name = SectionName(line)) {
        section = anySection = Lowered(*name);
        if (!sectionsSeen.insert(*section).second) section.reset();
        continue;
      }
      auto kv = anySection ? KeyValue(line) : std::nullopt;
      if (!kv) continue;
      keyNames[*anySection].emplace_back(kv->first);
      if (!section) continue;
      values.try_emplace(*section + '\n' + Lowered(kv->first),
                         kv->second.substr(0, std::min(kv->second.size(), kMaxValueLength)));
    }
  }
};

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

IniFile::~IniFile() = default;

std::shared_ptr<const IniFile::Snapshot> IniFile::Current() const {
  std::lock_guard lock(mutex_);
  const std::optional<FileStamp> stamp = StampOfRegularFile(path_);
  if (snapshot_ && stamp && snapshot_->stamp == stamp) return snapshot_;
  auto fresh = std::make_shared<Snapshot>();
  fresh->stamp = stamp;
  if (const auto content = ReadFileIfAny(path_)) fresh->Parse(*content);
  snapshot_ = std::move(fresh);
  return snapshot_;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  const auto snapshot = Current();
  const auto found = snapshot->values.find(Snapshot::Name(section, key));
  return found == snapshot->values.end() ? std::string(defaultValue) : found->second;
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
  const auto snapshot = Current();
  const auto found = snapshot->keyNames.find(Lowered(section));
  return found == snapshot->keyNames.end() ? std::vector<std::string>() : found->second;
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                             int32_t defaultValue) const {
  const std::string text = ReadString(section, key, "");
  return IntegerFromTextOr(text, defaultValue);
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  WriteStrings(section, {{std::string(key), std::string(value)}});
}

void IniFile::WriteStrings(std::string_view section, const std::vector<KeyValuePair>& values) {
  Replace(section, values, FileAccess::kAsBefore);
}

void IniFile::WriteSecretString(std::string_view section, std::string_view key,
                                std::string_view value) {
  Replace(section, {{std::string(key), std::string(value)}},
          value.empty() ? FileAccess::kAsBefore : FileAccess::kOwnerOnly);
}

void IniFile::Replace(std::string_view section, const std::vector<KeyValuePair>& values,
                      FileAccess access) {
  // A line break inside a name or value would end its line early and add lines of its own.
  for (const auto& [key, value] : values) {
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
      throw FileError("Unable to write to " + path_ + ": the value of " + key +
                      " holds a line break, which a settings file cannot store");
    }
  }
  if (!DirectoryExists(ExtractFilePath(path_).empty() ? "." : ExtractFilePath(path_))) {
    throw FileError(UnableToWriteText(path_));
  }
  // An existing file that cannot be read must not be replaced by the keys being written.
  std::string content;
  if (PathExists(path_)) {
    try {
      content = ReadFileUpTo(path_, kMaxFileBytes);
    } catch (const FileTooLarge&) {
      throw;
    } catch (const FileError&) {
      throw FileError(UnableToWriteText(path_));
    }
  }
  for (const auto& [key, value] : values) content = WithValue(content, section, key, value);
  try {
    WriteFileAtomic(path_, content, access);
  } catch (const FileError&) {
    throw FileError(UnableToWriteText(path_));
  }
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace qm
