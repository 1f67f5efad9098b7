// Helpers of the task tests: the entries of a test folder and the parameters of the worked example.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/Unitclasstask.h"
#include "tests/support/temp_dir.h"

namespace tasktest {

// Names of the entries of a folder, sorted.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The rectangle of the worked example: zoom 13, columns 2412..2414, rows 3080..3083, 12 tiles.
inline TDownParams ExampleParams(const std::string& savePath, const std::string& taskName) {
  TDownParams p;
  p.LeftLongitude = -74.0;
  p.RightLongitude = -73.9;
  p.TopLatitude = 40.7;
  p.BottomLatitude = 40.6;
  p.Zoom = 13;
  p.SavePath = savePath;
  p.TaskName = taskName;
  return p;
}

}  // namespace tasktest
