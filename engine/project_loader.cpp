// Reading a project file's fields for "Open task ..." and deciding what "View log file" does.
#include "engine/project_loader.h"

#include "platform/file_ops.h"
#include "platform/ini_file.h"

ProjectFields ReadProjectFields(const std::string& projectFile) {
  const qm::IniFile project(projectFile);
  ProjectFields f;
  f.LeftLongitude = project.ReadString("AREA", "LeftLongitude", "");
  f.RightLongitude = project.ReadString("AREA", "RightLongitude", "");
  f.TopLatitude = project.ReadString("AREA", "TopLatitude", "");
  f.BottomLatitude = project.ReadString("AREA", "BottomLatitude", "");
  f.Folder = qm::ExtractFilePath(projectFile);
  f.TaskName = qm::ExtractFileName(projectFile);
  f.Zoom = project.ReadInteger("Zoom", "Zoom", 0);
  return f;
}

LogViewAction DecideLogView(bool haveTask, const std::string& logFile) {
  if (!haveTask) return LogViewAction::NoTask;
  return qm::FileExists(logFile) ? LogViewAction::Open : LogViewAction::NoLogFile;
}
