// Failure lines of the workers' log and the reason each one gives.
#include "cli/failure_reasons.h"

#include <cctype>

namespace {

// Past this many kinds (a message that names a file differs for every tile) the log tells the rest.
constexpr size_t kMostKinds = 10;

const char* const kClosingLines[] = {"Error: may be your IP is banned.\nPlease try again later.",
                                     "Error: Your network has problem, please check it."};

// A worker's line "T3 <text>": the text, or nothing for other lines.
std::optional<std::string> WorkerText(const std::string& line) {
  size_t at = 1;
  while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at]))) ++at;
  if (line.empty() || line[0] != 'T' || at == 1 || at >= line.size() || line[at] != ' ') return std::nullopt;
  return line.substr(at + 1);
}

// Messages may hold "\r\n" (a socket error's number, then its text): one line on the terminal.
std::string OnOneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  std::string joined;
  for (const char c : text) {
    if (c != ' ' || joined.empty() || joined.back() != ' ') joined += c;
  }
  return joined;
}

std::optional<std::string> ReasonOf(const std::string& line) {
  for (const char* closing : kClosingLines) {
    if (line == closing) return OnOneLine(line);
  }
  if (line.find(":failed ->") != std::string::npos) return "a tile failed without a message";
  const std::optional<std::string> text = WorkerText(line);
  if (!text || *text == "Finished.") return std::nullopt;
  const size_t arrow = text->rfind("->");  // the URL follows the message
  if (arrow == std::string::npos) return "a worker stopped: " + OnOneLine(*text);
  return "a tile failed: " + OnOneLine(text->substr(0, arrow));
}

}  // namespace

std::optional<std::string> FailureReasons::NewReason(const std::string& logLine) {
  const std::optional<std::string> reason = ReasonOf(logLine);
  if (!reason || told_.count(*reason) > 0 || toldLimit_) return std::nullopt;
  if (told_.size() == kMostKinds) {
    toldLimit_ = true;
    return "tiles failed in more ways: the task's log tells each";
  }
  told_.insert(*reason);
  return reason;
}
