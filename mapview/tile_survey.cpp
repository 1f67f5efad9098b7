// The folder survey reads directory entries and sizes only; a file is read when its size is the
// blank tile's, to tell the blank tile from imagery of the same size.
#include "mapview/tile_survey.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "engine/tile_source.h"
#include "platform/file_ops.h"
#include "platform/text_lines.h"

namespace mapview {

namespace {

constexpr size_t kReportBatch = 4096;

bool FileHolds(int fd, const std::string& bytes) {
  std::string content(bytes.size(), '\0');
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t got = ::read(fd, content.data() + done, content.size() - done);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return content == bytes;
}

bool IsBlankAt(int dirFd, const char* name, const std::string& blankBytes) {
  const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool blank = FileHolds(fd, blankBytes);
  ::close(fd);
  return blank;
}

}  // namespace

CellRect AreaCells(const ProjectArea& area) {
  return {area.minX, area.minY, int64_t{area.maxX} + 1, int64_t{area.maxY} + 1};
}

std::optional<TileXY> TileOfFileName(const ProjectArea& area, const std::string& fileName) {
  const auto numbers = ParseTileFileName(fileName);
  if (!numbers || numbers->zoom != area.zoom || !area.Contains(numbers->x, numbers->y)) return std::nullopt;
  return TileXY{numbers->x, numbers->y};
}

bool IsBlankTile(const std::string& path, const std::string& blankBytes) {
  struct stat info {};
  if (blankBytes.empty() || ::stat(path.c_str(), &info) != 0 || info.st_size != static_cast<off_t>(blankBytes.size())) {
    return false;
  }
  return IsBlankAt(AT_FDCWD, path.c_str(), blankBytes);
}

FileState FileStateOf(const std::string& path, const std::string& blankBytes) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return FileState::kMissing;
  if (!blankBytes.empty() && info.st_size == static_cast<off_t>(blankBytes.size()) && IsBlankAt(AT_FDCWD, path.c_str(), blankBytes)) {
    return FileState::kBlank;
  }
  return FileState::kPresent;
}

bool SurveyTileFolder(const ProjectArea& area, const std::string& blankBytes, const std::atomic<bool>& stop,
                      const std::function<void(std::vector<TileFile>&&)>& report) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(area.tileFolder.c_str()), ::closedir);
  if (!dir) return true;
  std::vector<TileFile> batch;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (stop.load(std::memory_order_relaxed)) return false;
    const auto tile = TileOfFileName(area, entry->d_name);
    if (!tile) continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
    const bool blank = !blankBytes.empty() && info.st_size == static_cast<off_t>(blankBytes.size()) &&
                       IsBlankAt(::dirfd(dir.get()), entry->d_name, blankBytes);
    batch.push_back({tile->first, tile->second, blank ? FileState::kBlank : FileState::kPresent});
    if (batch.size() == kReportBatch) report(std::exchange(batch, {}));
  }
  if (!batch.empty()) report(std::move(batch));
  return true;
}

std::vector<TileXY> ReadListedTiles(const ProjectArea& area, const std::string& listFile) {
  std::vector<TileXY> tiles;
  if (!qm::FileExists(listFile)) return tiles;
  std::vector<std::string> lines;
  try {
    lines = qm::ReadTextFileLines(listFile);
  } catch (const std::exception&) {
    return tiles;  // a list being replaced this instant is read again on its next change
  }
  for (const std::string& line : lines) {
    const std::string path = line.substr(0, line.find('|'));
    if (const auto tile = TileOfFileName(area, qm::ExtractFileName(path))) tiles.push_back(*tile);
  }
  return tiles;
}

std::vector<TileXY> ReadFailedTiles(const ProjectArea& area) { return ReadListedTiles(area, area.failedList); }

std::string VerifyListOf(const ProjectArea& area) {
  return qm::ExtractFilePath(area.failedList) + area.name + "_verify.ftl";
}

std::string FetchListFor(const ProjectArea& area, const std::string& tileServer, const std::vector<TileXY>& tiles) {
  std::string list;
  for (const auto& [x, y] : tiles) {
    const auto column = static_cast<int32_t>(x), row = static_cast<int32_t>(y);
    list += area.TilePath(column, row) + "|" + SatelliteTileUrl(tileServer, area.zoom, column, row) + "\r\n";
  }
  return list;
}

}  // namespace mapview
