// Verifying a project or a level set, one level after another.
#include "verify/verify_command.h"

#include <cstdio>
#include <variant>
#include <vector>

#include "engine/level_set.h"
#include "engine/project_area.h"
#include "engine/saved_servers.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "verify/project_verify.h"

namespace {

enum VerifyStatus { kAllSound = 0, kRefused = 1, kListed = 3, kFileError = 5 };

// The project files to verify: the project itself, or the levels of a set that have begun.
std::vector<std::string> ProjectsOf(const std::string& file) {
  if (!file.ends_with(".qmset")) return {file};
  auto set = ReadLevelSet(file);
  if (const auto* reason = std::get_if<std::string>(&set)) throw ProjectAreaError(*reason);
  const LevelSet& levels = std::get<LevelSet>(set);
  std::vector<std::string> projects;
  for (int32_t zoom = levels.zooms.first; zoom <= levels.zooms.last; ++zoom) {
    const std::string project = qm::ExtractFilePath(file) + LevelTaskName(levels.TaskName, zoom);
    if (qm::FileExists(project)) projects.push_back(project);
  }
  if (projects.empty()) throw ProjectAreaError("No level of " + file + " has begun: there is nothing to verify.");
  return projects;
}

}  // namespace

int RunVerify(const std::string& file, const VerifyOptions& options) {
  int64_t listed = 0;
  try {
    const std::string tileServer = ReadServerInUse(options.configFile, options.server).tileServer;
    for (const std::string& project : ProjectsOf(file)) {
      const VerifyReport report = VerifyProject(project, tileServer, [](int64_t, int64_t) { return true; });
      listed += report.counts.Listed();
      if (!options.quiet) std::fprintf(stderr, "%s: %s\n", project.c_str(), VerifySummaryText(report).c_str());
    }
  } catch (const ProjectAreaError& e) {
    std::fprintf(stderr, "quillmere-verify: %s\n", e.what());
    return kRefused;
  } catch (const UnknownServer& e) {
    std::fprintf(stderr, "quillmere-verify: %s\n", e.what());
    return kRefused;
  } catch (const qm::FileError& e) {
    std::fprintf(stderr, "quillmere-verify: %s\n", qm::ErrorBoxText(e.what()).c_str());
    return kFileError;
  }
  return listed > 0 ? kListed : kAllSound;
}
