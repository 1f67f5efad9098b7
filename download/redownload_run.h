// One run of the re-download window: fetch every tile named in a failed-tile list again, one after
// the other, on the calling (user-interface) thread, and report each outcome as an entry.
#pragma once

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
};

// The request headers of the re-download client.
std::vector<std::pair<std::string, std::string>> RedownloadHeaders();

// Reads listFile and requests each line's URL, saving successes to the line's path. Throws
// qm::FileError "Cannot open file <list>" before any request when the list cannot be read, and
// "Cannot create file <path>" when a tile cannot be written (the run ends at that line).
// With a proxy, every request goes through it.
void RunRedownload(const std::string& listFile, RedownloadView& view,
                   const std::optional<qm::ProxySettings>& proxy = std::nullopt);
