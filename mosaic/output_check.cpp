// Files are compared by what they are, not by how they are named: the device and inode of a file
// that exists, and the resolved folder and name of one that does not exist yet.
#include "mosaic/output_check.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <optional>

#include "engine/task_area.h"
#include "mosaic/mosaic_formats.h"
#include "mosaic/partial_file.h"
#include "platform/file_ops.h"

namespace {

struct Identity {
  dev_t device;
  ino_t inode;
  bool operator==(const Identity&) const = default;
};

// Of the file the path reaches, links followed.
std::optional<Identity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return Identity{st.st_dev, st.st_ino};
}

std::optional<std::string> RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  return std::string(resolved);
}

std::string WithoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && path.back() == qm::kPathSeparator) path.pop_back();
  return path;
}

// Where a file of that name lies, or would lie once written: its folder resolved (links, ".."),
// its own name kept, as a rename puts it there.
std::optional<std::string> PlacedPath(const std::string& path) {
  const std::string folder = qm::ExtractFilePath(path);
  const std::optional<std::string> real = RealPath(folder.empty() ? "." : folder);
  if (!real) return std::nullopt;
  return qm::WithTrailingSeparator(*real) + qm::ExtractFileName(path);
}

struct KnownFile {
  std::string path;
  std::optional<Identity> identity;
  std::optional<std::string> placed;

  explicit KnownFile(std::string p)
      : path(WithoutTrailingSeparator(std::move(p))), identity(IdentityOf(path)), placed(PlacedPath(path)) {}
  bool SameAs(const KnownFile& other) const {
    return (identity && identity == other.identity) || (placed && placed == other.placed);
  }
};

// The files of every level's task and of the set, the tile folders and the blank tile.
std::vector<KnownFile> FilesReadFor(const MosaicLevels& levels, const MosaicOptions& options) {
  std::vector<KnownFile> files;
  const auto addTask = [&files](const std::string& taskFile) {
    if (taskFile.empty()) return;
    for (const std::string& file : TaskFilesOf(taskFile)) files.emplace_back(file);
    if (const std::optional<AreaRecord> record = ReadAreaRecord(taskFile)) files.emplace_back(record->file);
  };
  for (const MosaicSource& level : levels) {
    addTask(level.projectFile);
    files.emplace_back(level.tileFolder);
  }
  addTask(levels.front().setFile);
  if (!options.blankTileFile.empty()) files.emplace_back(options.blankTileFile);
  return files;
}

// The folders holding path, innermost first, up to the root.
std::vector<std::string> FoldersAbove(std::string path) {
  std::vector<std::string> folders;
  for (size_t slash = path.rfind(qm::kPathSeparator); slash != std::string::npos && path != "/";
       slash = path.rfind(qm::kPathSeparator)) {
    path = slash == 0 ? "/" : path.substr(0, slash);
    folders.push_back(path);
  }
  return folders;
}

// The tile folder that the file lies in, by where its name lies and, for a link, where it leads.
const MosaicSource* TileFolderHolding(const KnownFile& file, const MosaicLevels& levels) {
  for (const std::optional<std::string>& place : {file.placed, RealPath(file.path)}) {
    if (!place) continue;
    for (const std::string& folder : FoldersAbove(*place)) {
      const std::optional<Identity> identity = IdentityOf(folder);
      for (const MosaicSource& level : levels) {
        if (identity && identity == IdentityOf(level.tileFolder)) return &level;
      }
    }
  }
  return nullptr;
}

// What a file that is not a regular file (nor a link, which a rename replaces) is; nothing else.
const char* OddKindOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return nullptr;
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "a device";
}

void CheckWritten(const KnownFile& file, const std::string& output, const std::vector<KnownFile>& read,
                  const MosaicLevels& levels) {
  const std::string what =
      file.path == output ? "The output " + output : "The file " + file.path + " written beside the output " + output;
  for (const KnownFile& input : read) {
    if (!file.SameAs(input)) continue;
    throw MosaicError(what + (input.path == file.path ? " is" : " would replace " + input.path + ",") +
                      " a file the map is made from; choose another file.");
  }
  if (const MosaicSource* level = TileFolderHolding(file, levels)) {
    throw MosaicError(what + " lies inside the tile folder " + level->tileFolder + "; choose a file outside it.");
  }
  if (const char* kind = OddKindOf(file.path)) {
    throw MosaicError(what + " exists and is " + kind + ", not a regular file; choose another file.");
  }
}

}  // namespace

std::vector<std::string> FilesWrittenFor(const std::string& output, MosaicFormat format) {
  std::vector<std::string> files{output, output + ".missing.txt"};
  const bool single = format == MosaicFormat::kPng || format == MosaicFormat::kJpeg;
  if (single) {
    for (const std::string& sidecar : SingleImageSidecarPaths(output, format == MosaicFormat::kPng)) {
      files.push_back(sidecar);
    }
  }
  const size_t named = files.size();
  for (size_t i = 0; i < named; ++i) files.push_back(PartialPathFor(files[i]));
  // A COG and a single image are made from a GeoTIFF that is only ever written under its hidden name.
  if (single || format == MosaicFormat::kCog) files.push_back(PartialPathFor(output + ".tif"));
  return files;
}

void CheckMosaicOutput(const MosaicLevels& levels, const std::string& output, const MosaicOptions& options) {
  if (output.empty()) throw MosaicError("Name the file the map goes to.");
  if (qm::ExtractFileName(output).empty()) {
    throw MosaicError("The output " + output + " names a folder; name the file the map goes to.");
  }
  const std::vector<KnownFile> read = FilesReadFor(levels, options);
  for (const std::string& written : FilesWrittenFor(output, options.format)) {
    CheckWritten(KnownFile(written), output, read, levels);
  }
}
