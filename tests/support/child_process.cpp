// posix_spawn behind a few calls.
#include "tests/support/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/file_ops.h"

extern char** environ;

namespace qmtest {

namespace {

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd, int stderrFd, bool quietStderr) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
  if (quietStderr) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : -1;
}

}  // namespace

pid_t SpawnProgram(const std::vector<std::string>& args, int stdoutFd, bool quietStderr) {
  return Spawn(args, stdoutFd, -1, quietStderr);
}

int WaitForExit(pid_t pid, long* peakKb) {
  int status = 0;
  rusage usage{};
  if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
  if (peakKb != nullptr) *peakKb = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProgramOutput RunProgram(const std::vector<std::string>& argv, const std::string& folder) {
  const std::string outFile = folder + "program_out.txt", errFile = folder + "program_err.txt";
  const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t pid = out >= 0 && err >= 0 ? Spawn(argv, out, err, false) : -1;
  if (out >= 0) ::close(out);
  if (err >= 0) ::close(err);
  ProgramOutput output;
  output.status = WaitForExit(pid);
  output.out = qm::ReadWholeFile(outFile);
  output.err = qm::ReadWholeFile(errFile);
  return output;
}

}  // namespace qmtest
