// The projects a failed-tile list is named after.
#include "engine/list_owner.h"

#include "platform/file_ops.h"

std::vector<std::string> ProjectsOfList(const std::string& listFile) {
  std::vector<std::string> projects;
  for (const std::string suffix : {"_failed.ftl", "_verify.ftl", "_refresh_failed.ftl"}) {
    if (!listFile.ends_with(suffix) || listFile.size() == suffix.size()) continue;
    const std::string project = listFile.substr(0, listFile.size() - suffix.size()) + ".qmtp";
    if (qm::ExtractFileName(project) != ".qmtp" && qm::FileExists(project)) projects.push_back(project);
  }
  return projects;
}
