// Reading a saved project back into the main window's fields, and what "View log file" does.
#pragma once

#include <string>

// The field texts a project file gives: the four coordinates as stored (empty when missing),
// the folder with its trailing separator, the file name with its extension, and the zoom
// (0 when missing, kept as stored even outside 1..19).
struct ProjectFields {
  std::string LeftLongitude;
  std::string RightLongitude;
  std::string TopLatitude;
  std::string BottomLatitude;
  std::string Folder;
  std::string TaskName;
  int Zoom = 0;
};

ProjectFields ReadProjectFields(const std::string& projectFile);

// "View log file": no task yet, the log is missing, or open the log.
enum class LogViewAction { NoTask, NoLogFile, Open };
LogViewAction DecideLogView(bool haveTask, const std::string& logFile);
inline const std::string kNoTaskText = "No task running now." + std::string(18, ' ');
inline const std::string kNoLogFileText = "No logfile now." + std::string(25, ' ');
