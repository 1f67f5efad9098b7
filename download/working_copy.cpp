// Saving a growing working copy: append what is new, rewrite when the file is not ours any more.
#include "download/working_copy.h"

#include <sys/stat.h>

#include "platform/file_ops.h"
#include "platform/text_lines.h"

namespace {

std::string JoinLines(std::vector<std::string>::const_iterator first,
                      std::vector<std::string>::const_iterator last) {
  size_t size = 0;
  for (auto it = first; it != last; ++it) size += it->size() + 2;
  std::string text;
  text.reserve(size);
  for (auto it = first; it != last; ++it) {
    text += *it;
    text += "\r\n";
  }
  return text;
}

}  // namespace

WorkingCopy::FileStamp WorkingCopy::StampOf(const std::string& path) {
  struct stat st {};
  // The link itself, not what it leads to: a link planted in the file's place is not the saved file.
  if (::lstat(path.c_str(), &st) != 0) return {};
  return {static_cast<long long>(st.st_size), static_cast<long long>(st.st_ino),
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

void WorkingCopy::LoadFromFile(const std::string& path) {
  lines_ = qm::ReadTextFileLines(path, qm::kMaxListFileBytes, qm::kMaxListFileLines, qm::Links::kRefused);
  savedPath_.clear();
  savedLines_ = 0;
  saved_ = {};
}

void WorkingCopy::Clear() {
  lines_.clear();
  savedPath_.clear();
  savedLines_ = 0;
  saved_ = {};
}

void WorkingCopy::Append(std::string line) { lines_.push_back(std::move(line)); }

void WorkingCopy::SaveToFile(const std::string& path) {
  const bool fileIsAsSaved = path == savedPath_ && saved_.bytes >= 0 && StampOf(path) == saved_;
  if (!fileIsAsSaved) {
    Rewrite(path);
    return;
  }
  if (savedLines_ == lines_.size()) return;
  const std::string added = JoinLines(lines_.begin() + static_cast<std::ptrdiff_t>(savedLines_), lines_.end());
  try {
    qm::AppendToFile(path, added);
  } catch (...) {
    saved_ = {};  // a partial append is repaired by the next save's rewrite
    throw;
  }
  savedLines_ = lines_.size();
  saved_ = StampOf(path);
}

void WorkingCopy::Rewrite(const std::string& path) {
  saved_ = {};
  qm::WriteFileAtomic(path, JoinLines(lines_.begin(), lines_.end()));
  savedPath_ = path;
  savedLines_ = lines_.size();
  saved_ = StampOf(path);
}
