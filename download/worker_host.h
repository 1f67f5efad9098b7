// What a download worker reports to the window that runs it. Every call is made on the
// user-interface thread (the worker goes through the UiBridge and waits).
#pragma once

#include <string>

class WorkerHost {
 public:
  virtual ~WorkerHost() = default;
  virtual void AddLog(const std::string& line) = 0;     // a line for the log working copy
  virtual void AddFailed(const std::string& line) = 0;  // a line for the failed-tile working copy
  virtual void ThreadDone(int threadIndex) = 0;         // the worker's end, exactly once
};
