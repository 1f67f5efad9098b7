// The overview pieces of a project on disk: one JPEG file a piece in a cache folder, named by
// level, column, row and signature ("5_12_40_00ab....jpg"), so the folder itself is the index
// and a piece is replaced by writing the new file before removing the old one.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "engine/project_area.h"
#include "mapview/view_geometry.h"

namespace mapview {

// The cache folder of a project: beside its project file, or under the user's cache folder when
// the project's folder cannot be written.
std::string OverviewFolderFor(const std::string& projectFile);

class OverviewStore {
 public:
  // Reads the folder's index; creates the folder when it is first written.
  explicit OverviewStore(std::string folder);

  const std::string& Folder() const { return folder_; }
  // Zero when the piece is not stored.
  uint64_t StampOf(const PieceKey& piece) const;
  // The piece's file; empty when it is not stored.
  std::string PathOf(const PieceKey& piece) const;
  // Stores the piece's image (stamp not zero); false when it cannot be written.
  bool Put(const PieceKey& piece, uint64_t stamp, const std::string& jpegBytes);
  void Remove(const PieceKey& piece);
  size_t Size() const;

 private:
  std::string FileName(const PieceKey& piece, uint64_t stamp) const;

  std::string folder_;  // ends with the separator
  mutable std::mutex mutex_;
  std::unordered_map<PieceKey, uint64_t, PieceKeyHash> stamps_;
};

}  // namespace mapview
