// Saving a growing working copy: append what is new, rewrite when the file is not ours any more.
#include "download/working_copy.h"

#include <sys/stat.h>

#include "platform/file_ops.h"
#include "platform/text_lines.h"

namespace {

long long FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

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

void WorkingCopy::LoadFromFile(const std::string& path) {
  lines_ = qm::SplitTextLines(qm::ReadWholeFile(path));
  savedPath_.clear();
  savedLines_ = 0;
  savedBytes_ = -1;
}

void WorkingCopy::Clear() {
  lines_.clear();
  savedPath_.clear();
  savedLines_ = 0;
  savedBytes_ = -1;
}

void WorkingCopy::Append(std::string line) { lines_.push_back(std::move(line)); }

void WorkingCopy::SaveToFile(const std::string& path) {
  const bool fileIsAsSaved = path == savedPath_ && savedBytes_ >= 0 && FileSize(path) == savedBytes_;
  if (!fileIsAsSaved) {
    Rewrite(path);
    return;
  }
  if (savedLines_ == lines_.size()) return;
  const std::string added = JoinLines(lines_.begin() + static_cast<std::ptrdiff_t>(savedLines_), lines_.end());
  try {
    qm::AppendToFile(path, added);
  } catch (...) {
    savedBytes_ = -1;  // a partial append is repaired by the next save's rewrite
    throw;
  }
  savedLines_ = lines_.size();
  savedBytes_ += static_cast<long long>(added.size());
}

void WorkingCopy::Rewrite(const std::string& path) {
  savedBytes_ = -1;
  const std::string text = JoinLines(lines_.begin(), lines_.end());
  qm::WriteFileAtomic(path, text);
  savedPath_ = path;
  savedLines_ = lines_.size();
  savedBytes_ = static_cast<long long>(text.size());
}
