// Verifying a project or a level set, one level after another.
#include "verify/verify_command.h"

#include <cstdio>
#include <variant>
#include <vector>

#include "engine/level_set.h"
#include "engine/project_area.h"
#include "engine/saved_servers.h"
#include "platform/file_ops.h"
#include "platform/errors.h"
#include "platform/run_lock.h"
#include "shape/area_shape.h"
#include "verify/project_verify.h"

namespace {

enum VerifyStatus { kAllSound = 0, kRefused = 1, kListed = 3, kFileError = 5 };

}  // namespace

int RunVerify(const std::string& file, const VerifyOptions& options) {
  int64_t listed = 0;
  try {
    const std::string tileServer = ReadServerInUse(options.configFile, options.server).tileServer;
    // Whole paths in the list, so that redownload finds the tiles from any folder.
    const std::string whole = qm::AbsolutePath(file);
    const auto projects = ProjectFilesOf(whole);
    if (const auto* reason = std::get_if<std::string>(&projects)) throw ProjectAreaError(*reason);
    // A set is held for the whole check, each level by its own check.
    const qm::RunLock setLock = whole.ends_with(".qmset") ? qm::RunLock::Take(whole) : qm::RunLock();
    for (const std::string& project : std::get<std::vector<std::string>>(projects)) {
      const VerifyReport report = VerifyProject(project, tileServer);
      listed += report.counts.Listed();
      if (!options.quiet) std::fprintf(stderr, "%s: %s\n", project.c_str(), VerifySummaryText(report).c_str());
    }
  } catch (const ProjectAreaError& e) {
    std::fprintf(stderr, "quillmere-verify: %s\n", e.what());
    return kRefused;
  } catch (const ShapeError& e) {  // an area file gone or changed since the download
    std::fprintf(stderr, "quillmere-verify: %s\n", e.what());
    return kRefused;
  } catch (const qm::InUseError& e) {
    std::fprintf(stderr, "quillmere-verify: %s\n", e.what());
    return kRefused;
  } catch (const ServerRefused& e) {
    std::fprintf(stderr, "quillmere-verify: %s\n", e.what());
    return kRefused;
  } catch (const qm::FileError& e) {
    std::fprintf(stderr, "quillmere-verify: %s\n", qm::ErrorBoxText(e.what()).c_str());
    return kFileError;
  }
  return listed > 0 ? kListed : kAllSound;
}
