// Why tiles fail, told on the terminal once per kind: the log has a line for every tile, but
// without the reason "failed 72" alone leaves the user guessing (a certificate, the proxy's
// password, a refusal).
#pragma once

#include <optional>
#include <set>
#include <string>

class FailureReasons {
 public:
  // The text to show for a log line that tells a kind of failure not told before; nothing for
  // other lines, for kinds already told, and past a limit of kinds (once: where the rest is).
  std::optional<std::string> NewReason(const std::string& logLine);

 private:
  std::set<std::string> told_;
  bool toldLimit_ = false;
};
