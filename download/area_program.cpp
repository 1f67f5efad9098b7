// Asking quillmere-area for shapes and their tiles through a pipe.
#include "download/area_program.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <vector>

#include "engine/Unitclasstask.h"
#include "engine/area_cover_text.h"
#include "platform/errors.h"
#include "platform/file_ops.h"

extern char** environ;

namespace {

struct ProgramResult {
  int status = -1;
  std::string output;
};

// Runs quillmere-area with args and collects what it prints; its standard error stays ours.
// QUILLMERE_AREA_PROGRAM names it for programs that do not lie beside it (the tests).
std::string AreaProgram() {
  const char* named = std::getenv("QUILLMERE_AREA_PROGRAM");
  return named && *named ? named : qm::ProgramFolder() + "quillmere-area";
}

// The child ends with the thread that started it (which waits for it): a caller stopped by a
// signal leaves no reader of a shape behind.
pid_t StartWithOutputTo(const std::string& program, std::vector<char*>& argv, int pipeEnds[2]) {
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // Only async-signal-safe calls between fork and exec.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
  ::dup2(pipeEnds[1], STDOUT_FILENO);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  ::execve(program.c_str(), argv.data(), environ);
  ::_exit(127);
}

ProgramResult RunAreaProgram(std::vector<std::string> args) {
  const std::string program = AreaProgram();
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw AreaRefused("Cannot start " + program + ".");
  const pid_t pid = StartWithOutputTo(program, argv, pipeEnds);
  ::close(pipeEnds[1]);
  ProgramResult result;
  if (pid < 0) {
    ::close(pipeEnds[0]);
    throw AreaRefused("Areas from a shape need " + program + ", which cannot be started.");
  }
  char buffer[65536];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) result.output.append(buffer, static_cast<size_t>(n));
    else if (errno != EINTR) break;
  }
  ::close(pipeEnds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (result.status == 127 && result.output.empty()) {
    throw AreaRefused("Areas from a shape need " + program + ", which cannot be started.");
  }
  return result;
}

std::string Refusal(const ProgramResult& result) {
  std::string reason = result.output;
  while (!reason.empty() && reason.back() == '\n') reason.pop_back();
  return reason.empty() ? "quillmere-area ended without an answer." : reason;
}

std::vector<AreaRing> RingsFromText(const std::string& text) {
  std::vector<AreaRing> rings;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream numbers(line);
    AreaRing ring;
    for (double lon = 0, lat = 0; numbers >> lon >> lat;) ring.emplace_back(lon, lat);
    rings.push_back(std::move(ring));
  }
  return rings;
}

// A copy of the area's text that quillmere-area reads while the area is in use.
class AreaTextFile {
 public:
  explicit AreaTextFile(const std::string& text) {
    std::error_code error;
    std::string name = std::filesystem::temp_directory_path(error).string() + "/quillmere-area-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) throw AreaRefused("Cannot write a temporary copy of the area.");
    ::close(fd);
    path_ = name;
    qm::WriteFileAtomic(path_, text);
  }
  ~AreaTextFile() { ::unlink(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::shared_ptr<TaskArea> AreaOf(std::string geoJson, std::string source, double bufferMetres) {
  auto copy = std::make_shared<AreaTextFile>(geoJson);
  auto area = MakeTaskArea(std::move(geoJson), std::move(source), bufferMetres, [copy](int32_t zoom) {
    const ProgramResult result = RunAreaProgram({"cover", copy->Path(), "--zoom", std::to_string(zoom)});
    if (result.status != 0) throw TaskError(Refusal(result));
    return AreaCoverFromText(result.output);
  });
  area->outline = [copy] {
    const ProgramResult result = RunAreaProgram({"rings", copy->Path()});
    if (result.status != 0) throw TaskError(Refusal(result));
    return RingsFromText(result.output);
  };
  return area;
}

}  // namespace

std::shared_ptr<const TaskArea> AreaFromFile(const std::string& file, double bufferMetres, StartInputs& inputs) {
  if (const std::optional<std::string> problem = AreaSourceProblem(file)) throw AreaRefused(*problem);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", bufferMetres);
  const ProgramResult result = RunAreaProgram({"read", file, "--buffer", buffer});
  const size_t lineEnd = result.output.find('\n');
  if (result.status != 0 || lineEnd == std::string::npos) throw AreaRefused(Refusal(result));
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = result.output.find('\t', start)) < lineEnd; start = tab + 1) {
    fields.push_back(result.output.substr(start, tab - start));
  }
  fields.push_back(result.output.substr(start, lineEnd - start));
  if (fields.size() != 5) throw AreaRefused(Refusal(result));
  inputs.LeftLongitude = fields[0];
  inputs.RightLongitude = fields[1];
  inputs.TopLatitude = fields[2];
  inputs.BottomLatitude = fields[3];
  auto area = AreaOf(result.output.substr(lineEnd + 1), qm::AbsolutePath(file), bufferMetres);
  area->widenable = fields[4] == "lines";
  return area;
}

std::shared_ptr<const TaskArea> AreaOfProject(const std::string& projectOrSetFile) {
  const std::optional<AreaRecord> record = ReadAreaRecord(projectOrSetFile);
  if (!record) return nullptr;
  std::optional<std::string> text = ReadAreaText(*record);
  if (!text || text->empty()) throw AreaRefused("The area file " + record->file + " of " + projectOrSetFile + " is gone or cannot be read.");
  return AreaOf(std::move(*text), record->source, record->bufferMetres);
}
