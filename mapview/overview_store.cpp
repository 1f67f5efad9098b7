// Overview pieces as files of a cache folder.
#include "mapview/overview_store.h"

#include <dirent.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/program_layout.h"

namespace mapview {

namespace {

bool ParsePieceFileName(const char* name, PieceKey& piece, uint64_t& stamp) {
  int level = 0, used = 0;
  long long x = 0, y = 0;
  if (std::sscanf(name, "%d_%lld_%lld_%16" SCNx64 ".jpg%n", &level, &x, &y, &stamp, &used) != 4) return false;
  if (name[used] != '\0' || level < 0 || level > 62 || x < 0 || y < 0 || stamp == 0) return false;
  piece = {level, x, y};
  return true;
}

}  // namespace

std::string OverviewFolderFor(const std::string& projectFile) {
  const std::string folder = qm::ExtractFilePath(projectFile);
  const std::string name = qm::ExtractFileName(projectFile);
  const std::string stem = name.substr(0, name.rfind('.'));
  if (::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0) return folder + stem + "_overviews/";
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>()(std::filesystem::absolute(projectFile).lexically_normal().string()));
  return qm::UserCacheFolder() + "quillmere/overviews/" + stem + "-" + hash + "/";
}

OverviewStore::OverviewStore(std::string folder) : folder_(qm::WithTrailingSeparator(folder)) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder_.c_str()), ::closedir);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    PieceKey piece;
    uint64_t stamp = 0;
    if (!ParsePieceFileName(entry->d_name, piece, stamp)) continue;
    const auto [it, added] = stamps_.emplace(piece, stamp);
    // Two files of one piece: an interrupted replacement; the one not kept is removed.
    if (!added) {
      ::unlink((folder_ + FileName(piece, stamp)).c_str());
    }
  }
}

std::string OverviewStore::FileName(const PieceKey& piece, uint64_t stamp) const {
  char name[96];
  std::snprintf(name, sizeof name, "%d_%lld_%lld_%016" PRIx64 ".jpg", piece.level, static_cast<long long>(piece.x),
                static_cast<long long>(piece.y), stamp);
  return name;
}

uint64_t OverviewStore::StampOf(const PieceKey& piece) const {
  std::lock_guard lock(mutex_);
  const auto it = stamps_.find(piece);
  return it == stamps_.end() ? 0 : it->second;
}

std::string OverviewStore::PathOf(const PieceKey& piece) const {
  std::lock_guard lock(mutex_);
  const auto it = stamps_.find(piece);
  return it == stamps_.end() ? std::string() : folder_ + FileName(piece, it->second);
}

bool OverviewStore::Put(const PieceKey& piece, uint64_t stamp, const std::string& jpegBytes) {
  try {
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    qm::WriteFileAtomicUnflushed(folder_ + FileName(piece, stamp), jpegBytes);
  } catch (const qm::FileError&) {
    return false;
  }
  std::lock_guard lock(mutex_);
  uint64_t& stored = stamps_[piece];
  if (stored != 0 && stored != stamp) ::unlink((folder_ + FileName(piece, stored)).c_str());
  stored = stamp;
  return true;
}

void OverviewStore::Remove(const PieceKey& piece) {
  std::lock_guard lock(mutex_);
  const auto it = stamps_.find(piece);
  if (it == stamps_.end()) return;
  ::unlink((folder_ + FileName(piece, it->second)).c_str());
  stamps_.erase(it);
}

size_t OverviewStore::Size() const {
  std::lock_guard lock(mutex_);
  return stamps_.size();
}

}  // namespace mapview
