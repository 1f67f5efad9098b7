// One run of the re-download window: fetch every tile named in a failed-tile list again, one after
// the other, on the calling (user-interface) thread, and report each outcome as an entry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/http_client.h"

class RedownloadView {
 public:
  virtual ~RedownloadView() = default;
  virtual void AddEntry(const std::string& entry) = 0;
  // Lets the window show what it has so far (once, after "Start...").
  virtual void ProcessEvents() = 0;
  // Asked before each line; false ends the run there.
  virtual bool KeepGoing() { return true; }
  // The run's client before its first request, and nullptr before it goes away: while it is
  // set, another thread may Abort() it.
  virtual void ClientInUse(qm::HttpClient* /*client*/) {}
  // Waits ms before a busy server is asked again; false ends the wait and the line there. By
  // default the wait goes in short steps that let the window show what it has, and ends early
  // when KeepGoing says no.
  virtual bool WaitForServer(int ms);
};

// A list from elsewhere must not choose where files are written. With a folder set, a line is
// fetched only when its path names a tile file (kv_X_Y_Z.jpg) inside that folder (relative paths
// count from the current folder); any other line, one without a bar included, is reported as
// refused and skipped, and blank lines are passed over.
struct RedownloadRules {
  std::string confineToFolder;  // empty: every line's path is written as it stands
  // The chosen server's request headers: each replaces the run's own header of its name, or is
  // added after them.
  std::vector<std::pair<std::string, std::string>> serverHeaders{};
};

// How the lines of a run ended.
struct RedownloadTally {
  int64_t stored = 0;
  int64_t failed = 0;   // answered with a failure
  int64_t refused = 0;  // not fetched: the rules refused the line
  bool serverRefused = false;  // a refusal by the server ended the run
};

// The request headers of the re-download client, with the server's own put in.
std::vector<std::pair<std::string, std::string>> RedownloadHeaders(
    const std::vector<std::pair<std::string, std::string>>& serverHeaders = {});

// Reads listFile and requests each line's URL, saving successes to the line's path. Throws
// qm::FileError "Cannot open file <list>" before any request when the list cannot be read, and
// "Cannot create file <path>" when a tile cannot be written (the run ends at that line).
// With a proxy, every request goes through it.
RedownloadTally RunRedownload(const std::string& listFile, RedownloadView& view,
                              const std::optional<qm::ProxySettings>& proxy = std::nullopt,
                              const RedownloadRules& rules = {});
