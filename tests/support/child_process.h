// Starting the project's programs as child processes in tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qmtest {

// Starts argv[0] (a path, or a name searched on PATH) with argv; stdoutFd, when given, becomes
// its standard output, and quietStderr sends its standard error to /dev/null. -1 when it cannot
// be started.
pid_t SpawnProgram(const std::vector<std::string>& argv, int stdoutFd = -1, bool quietStderr = false);

// Waits for the child; its exit status (-1 when it did not exit normally), and its peak memory
// in kilobytes when asked.
int WaitForExit(pid_t pid, long* peakKb = nullptr);

// Runs argv[0] to its end; what it printed goes through files in folder (ending with '/').
struct ProgramOutput {
  int status = -1;  // -1 when it could not be started or did not exit normally
  std::string out;
  std::string err;
};
ProgramOutput RunProgram(const std::vector<std::string>& argv, const std::string& folder);

}  // namespace qmtest
