// The build-folder and installed layouts.
#include "platform/program_layout.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/file_ops.h"

namespace qm {

namespace {

bool IsFolder(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(path, ignored);
}

bool CanWriteSettings(const std::string& file) {
  if (::access(file.c_str(), F_OK) == 0) return ::access(file.c_str(), W_OK) == 0;
  const std::string folder = ExtractFilePath(file);
  return IsFolder(folder) ? ::access(folder.c_str(), W_OK) == 0 : ::access(ExtractFilePath(folder.substr(0, folder.size() - 1)).c_str(), W_OK) == 0;
}

// An XDG base folder: the variable's value when it is an absolute path, else the default under
// the home folder.
std::string XdgFolder(const char* variable, const char* underHome) {
  const char* value = std::getenv(variable);
  if (value && *value == '/') return WithTrailingSeparator(value);
  const char* home = std::getenv("HOME");
  return WithTrailingSeparator(home && *home ? home : "/tmp") + underHome;
}

std::string UserConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config/"); }

}  // namespace

std::string UserCacheFolder() { return XdgFolder("XDG_CACHE_HOME", ".cache/"); }

std::string DataFolder() {
  const std::string programFolder = ProgramFolder();
  if (IsFolder(programFolder + "blankimg")) return programFolder;
  const std::string installed = programFolder + "../share/quillmere/";
  if (IsFolder(installed)) return std::filesystem::path(installed).lexically_normal().string();
  return programFolder;
}

std::string ConfigFilePath(const std::string& dataFolder) {
  const std::string shipped = WithTrailingSeparator(dataFolder) + "ini" + kPathSeparator + "config.ini";
  if (CanWriteSettings(shipped)) return shipped;
  const std::string folder = UserConfigFolder() + "quillmere/";
  const std::string own = folder + "config.ini";
  std::error_code ignored;
  if (!FileExists(own)) {
    std::filesystem::create_directories(folder, ignored);
    if (FileExists(shipped)) std::filesystem::copy_file(shipped, own, ignored);
  }
  return own;
}

}  // namespace qm
