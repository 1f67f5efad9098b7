// A downloaded project's tile range, zoom and tile folder, read back from its project file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class ProjectAreaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ProjectArea {
  int zoom = 0;
  int32_t minX = 0, minY = 0, maxX = 0, maxY = 0;
  std::string tileFolder;  // ends with the separator
  std::string name;        // the task's stem
  std::string failedList;  // the failed-tile list beside the project file

  int64_t Columns() const { return int64_t{maxX} - minX + 1; }
  int64_t Rows() const { return int64_t{maxY} - minY + 1; }
  int64_t Tiles() const { return Columns() * Rows(); }
  bool Contains(int64_t x, int64_t y) const { return x >= minX && x <= maxX && y >= minY && y <= maxY; }
  std::string TilePath(int32_t x, int32_t y) const;
};

// Reads the project file's range ([XY]), zoom and folder. Throws ProjectAreaError with a message
// for the user when the file is missing or holds no usable range.
ProjectArea ReadProjectArea(const std::string& projectFile);

// The files of a task or set beside its file (.qmtp or .qmset), there or not yet: the file itself,
// its run lock, the tile list, log and failed-tile list, the area file, and the lists and logs of
// verify and refresh. The tile folder is the ProjectArea's.
std::vector<std::string> TaskFilesOf(const std::string& projectFile);
