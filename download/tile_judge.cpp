// The judging program on a socket pair.
#include "download/tile_judge.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "platform/file_ops.h"

extern char** environ;

namespace {

std::string JudgeProgram() {
  const char* named = std::getenv("QUILLMERE_VERIFY_PROGRAM");
  return named && *named ? named : qm::ProgramFolder() + "quillmere-verify";
}

// No SIGPIPE when the program has ended: the send fails instead.
bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

TileJudgeProgram::TileJudgeProgram() : program_(JudgeProgram()) {}

TileJudgeProgram::~TileJudgeProgram() { End(); }

bool TileJudgeProgram::Start() {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  std::string program = program_, flag = kJudgeFlag;
  char* argv[] = {program.data(), flag.data(), nullptr};
  const bool started = posix_spawn(&pid_, program_.c_str(), &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (!started) {
    ::close(ends[0]);
    pid_ = -1;
    return false;
  }
  socket_ = ends[0];
  return true;
}

// Closing its input ends the program.
void TileJudgeProgram::End() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  if (pid_ > 0) {
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
}

TileVerdict TileJudgeProgram::Judge(const std::string& bytes) {
  const std::lock_guard lock(mutex_);
  if (socket_ < 0 && !Start()) return TileVerdict::kUnjudged;
  char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<char>((uint64_t{bytes.size()} >> (8 * i)) & 0xFF);
  char verdict = 0;
  ssize_t got = -1;
  if (SendAll(socket_, length, sizeof length) && SendAll(socket_, bytes.data(), bytes.size())) {
    do {
      got = ::recv(socket_, &verdict, 1, 0);
    } while (got < 0 && errno == EINTR);
  }
  const int code = verdict - kVerdictBase;
  if (got != 1 || code < 0 || code > static_cast<int>(TileVerdict::kDamaged)) {
    End();  // started again for the next tile
    return TileVerdict::kUnjudged;
  }
  return static_cast<TileVerdict>(code);
}
