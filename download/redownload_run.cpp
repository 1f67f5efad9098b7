// The re-download run: list lines split at their first bar, resets repeated, refusals end the run.
#include "download/redownload_run.h"

#include "engine/tile_server_setting.h"
#include "platform/errors.h"
#include "platform/file_ops.h"
#include "platform/http_client.h"
#include "platform/text_lines.h"

namespace {

// A reset connection is asked again at once, this many times at most for one line.
constexpr int kMaxResetRepeats = 10;

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

void SaveTile(const std::string& path, const std::string& body) {
  try {
    qm::WriteFileAtomicUnflushed(path, body);
  } catch (const qm::FileError&) {
    throw qm::FileError(qm::CannotCreateFileText(path));
  }
}

// Requests url; repeats after a connection reset, each time with an emptied buffer. The
// requests libcurl resends by itself on a dead kept-alive connection count as repeats too.
qm::HttpResult Fetch(qm::HttpClient& client, const std::string& url, std::string& body) {
  qm::HttpResult result;
  for (int repeats = 0;; ++repeats) {
    body.clear();
    result = client.Get(url, body);
    repeats += result.silentRepeats;
    if (result.ok || !Contains(result.message, "10054") || repeats >= kMaxResetRepeats) return result;
  }
}

// Returns false when the server refused us and the run must end.
bool RedownloadLine(qm::HttpClient& client, const std::string& line, RedownloadView& view) {
  const size_t bar = line.find('|');
  const std::string path = bar == std::string::npos ? "" : line.substr(0, bar);
  const std::string url = bar == std::string::npos ? line : line.substr(bar + 1);
  std::string body;
  const qm::HttpResult result = Fetch(client, url, body);
  if (result.ok) {
    SaveTile(path, body);
    view.AddEntry(path + ":" + MaskedUrl(url) + " ->OK");
    return true;
  }
  view.AddEntry(result.message + "->" + MaskedUrl(url));
  if (Contains(result.message, "302") || Contains(result.message, "403")) {
    view.AddEntry("Error: may be your IP is banned.\nPlease try again later.");
    return false;
  }
  if (Contains(result.message, "404")) view.AddEntry(MaskedUrl(url) + ":Error: the image is not found on server.");
  return true;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> RedownloadHeaders() {
  // The Referer is a web map site's home page; a line break in a header value would end the
  // request's header block early, so none is sent.
  return {{"Referer", "http://maps.quillmere.example.org/"},
          {"User-Agent", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)"},
          {"Connection", "Keep_Alive"}};
}

void RunRedownload(const std::string& listFile, RedownloadView& view,
                   const std::optional<qm::ProxySettings>& proxy) {
  qm::HttpClient client;
  client.SetHeaders(RedownloadHeaders());
  if (proxy) client.SetProxy(*proxy);
  struct InUse {
    RedownloadView& view;
    ~InUse() { view.ClientInUse(nullptr); }
  } inUse{view};
  view.ClientInUse(&client);
  const std::vector<std::string> lines = qm::SplitTextLines(qm::ReadWholeFile(listFile));
  if (lines.empty()) {
    view.AddEntry("No failed files records.");
    return;
  }
  view.AddEntry("Start...");
  view.ProcessEvents();
  for (const std::string& line : lines) {
    if (!view.KeepGoing() || !RedownloadLine(client, line, view)) break;
  }
  view.AddEntry("Download End.");
}
