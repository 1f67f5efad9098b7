// The re-download run: list lines split at their first bar, resets repeated, refusals end the run.
#include "download/redownload_run.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include "engine/saved_server_sections.h"
#include "engine/tile_server_setting.h"
#include "engine/tile_source.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/http_client.h"
#include "platform/retry_after.h"
#include "platform/text_lines.h"
#include "platform/tile_validators.h"

namespace {

namespace fs = std::filesystem;

// A reset connection is asked again at once, this many times at most for one line.
constexpr int kMaxResetRepeats = 10;

enum class LineEnd { kStored, kFailed, kRefusedLine, kServerRefused };

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

void SaveTile(const std::string& path, const std::string& body, const qm::HttpResult& answer) {
  try {
    qm::WriteFileAtomicUnflushed(path, body);
    qm::KeepTileValidators(path, answer.etag, answer.lastModified);
  } catch (const qm::FileError&) {
    throw qm::FileError(qm::CannotCreateFileText(path));
  }
}

// Waits as long as a busy server asked, and says so; false when there is nothing to wait for
// (no usable Retry-After, or enough waits for this line) or the view ended the wait.
bool WaitIfBusy(const qm::HttpResult& result, const std::string& url, RedownloadView& view, int& busyWaits) {
  if (busyWaits >= qm::kMaxRetryAfterWaits) return false;
  const std::optional<int> seconds = qm::RetryAfterOf(result);
  if (!seconds) return false;
  ++busyWaits;
  view.AddEntry(qm::ServerBusyText(result.message, *seconds) + " ->" + MaskedUrl(url));
  return view.WaitForServer(*seconds * 1000);
}

// Requests url; repeats after a connection reset, each time with an emptied buffer, and after
// a busy server's wait. The requests libcurl resends by itself on a dead kept-alive connection
// count as repeats too.
qm::HttpResult Fetch(qm::HttpClient& client, const std::string& url, std::string& body, RedownloadView& view) {
  qm::HttpResult result;
  int busyWaits = 0;
  for (int repeats = 0;; ++repeats) {
    body.clear();
    result = client.Get(url, body);
    repeats += result.silentRepeats;
    if (result.ok) return result;
    if (WaitIfBusy(result, url, view, busyWaits)) {
      --repeats;  // the wait is no repeat after a reset
      continue;
    }
    if (!Contains(result.message, "10054") || repeats >= kMaxResetRepeats) return result;
  }
}

// The path with symbolic links and ".." resolved, so that neither can lead out of a folder.
std::optional<fs::path> Resolved(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  if (error) return std::nullopt;
  fs::path resolved = fs::weakly_canonical(absolute, error);
  if (error) return std::nullopt;
  return resolved;
}

bool IsInside(const fs::path& folder, const fs::path& file) {
  const fs::path relative = file.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

// Why the rules refuse to write a line's path; nothing when it may be written. The resolved file
// must carry a tile's name too: a tile name may be a link to another file.
std::optional<std::string> RefusalOf(const RedownloadRules& rules, size_t bar, const std::string& path) {
  if (rules.confineToFolder.empty()) return std::nullopt;
  if (bar == std::string::npos) return "no \"|\" between the tile's path and its URL";
  if (!ParseTileFileName(fs::path(path).filename().string())) return "not a tile file name (kv_X_Y_Z.jpg)";
  const std::optional<fs::path> folder = Resolved(rules.confineToFolder);
  const std::optional<fs::path> file = Resolved(path);
  if (!folder || !file || !IsInside(*folder, *file) || !ParseTileFileName(file->filename().string())) {
    return "outside the folder " + (folder ? folder->string() : rules.confineToFolder);
  }
  return std::nullopt;
}

LineEnd RedownloadLine(qm::HttpClient& client, const std::string& line, RedownloadView& view,
                       const RedownloadRules& rules) {
  const size_t bar = line.find('|');
  const std::string path = bar == std::string::npos ? "" : line.substr(0, bar);
  const std::string url = bar == std::string::npos ? line : line.substr(bar + 1);
  if (const auto refusal = RefusalOf(rules, bar, path)) {
    view.AddEntry((bar == std::string::npos ? MaskedUrl(line) : path + ":" + MaskedUrl(url)) + " ->refused: " +
                  *refusal);
    return LineEnd::kRefusedLine;
  }
  std::string body;
  const qm::HttpResult result = Fetch(client, url, body, view);
  if (result.ok) {
    try {
      SaveTile(path, body, result);
    } catch (const qm::FileError& e) {
      // Confined to a folder, one tile that cannot be written fails its own line; the window
      // (unconfined) shows the error and ends, as it always did.
      if (rules.confineToFolder.empty()) throw;
      view.AddEntry(path + ":" + MaskedUrl(url) + " ->failed: " + e.what());
      return LineEnd::kFailed;
    }
    view.AddEntry(path + ":" + MaskedUrl(url) + " ->OK");
    return LineEnd::kStored;
  }
  view.AddEntry(result.message + "->" + MaskedUrl(url));
  if (Contains(result.message, "302") || Contains(result.message, "403")) {
    view.AddEntry("Error: may be your IP is banned.\nPlease try again later.");
    return LineEnd::kServerRefused;
  }
  if (Contains(result.message, "404")) view.AddEntry(MaskedUrl(url) + ":Error: the image is not found on server.");
  return LineEnd::kFailed;
}

void Count(RedownloadTally& tally, LineEnd end) {
  switch (end) {
    case LineEnd::kStored:
      ++tally.stored;
      break;
    case LineEnd::kFailed:
      ++tally.failed;
      break;
    case LineEnd::kRefusedLine:
      ++tally.refused;
      break;
    case LineEnd::kServerRefused:
      ++tally.failed;
      tally.serverRefused = true;
      break;
  }
}

}  // namespace

bool RedownloadView::WaitForServer(int ms) {
  constexpr int kStepMs = 100;
  for (int left = ms; left > 0; left -= kStepMs) {
    ProcessEvents();
    if (!KeepGoing()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, kStepMs)));
  }
  return true;
}

std::vector<std::pair<std::string, std::string>> RedownloadHeaders(
    const std::vector<std::pair<std::string, std::string>>& serverHeaders) {
  // The Referer is a web map site's home page; a line break in a header value would end the
  // request's header block early, so none is sent.
  std::vector<std::pair<std::string, std::string>> headers = {
      {"Referer", "http://maps.quillmere.example.org/"},
      {"User-Agent", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)"},
      {"Connection", "Keep_Alive"}};
  for (const auto& header : serverHeaders) {
    const auto same = std::find_if(headers.begin(), headers.end(),
                                   [&](const auto& own) { return SameServerName(own.first, header.first); });
    if (same == headers.end()) {
      headers.push_back(header);
    } else {
      same->second = header.second;
    }
  }
  return headers;
}

RedownloadTally RunRedownload(const std::string& listFile, RedownloadView& view,
                              const std::optional<qm::ProxySettings>& proxy, const RedownloadRules& rules) {
  qm::HttpClient client;
  client.SetHeaders(RedownloadHeaders(rules.serverHeaders));
  if (proxy) client.SetProxy(*proxy);
  struct InUse {
    RedownloadView& view;
    ~InUse() { view.ClientInUse(nullptr); }
  } inUse{view};
  view.ClientInUse(&client);
  const std::vector<std::string> lines = qm::ReadTextFileLines(listFile);
  RedownloadTally tally;
  if (lines.empty()) {
    view.AddEntry("No failed files records.");
    return tally;
  }
  view.AddEntry("Start...");
  view.ProcessEvents();
  for (const std::string& line : lines) {
    if (!view.KeepGoing()) break;
    if (line.empty() && !rules.confineToFolder.empty()) continue;
    Count(tally, RedownloadLine(client, line, view, rules));
    if (tally.serverRefused) break;
  }
  view.AddEntry("Download End.");
  return tally;
}
