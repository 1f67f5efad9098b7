// Saved tile servers: a name, a URL template or host, request headers, the highest zoom served and
// an attribution, kept in the settings file as one section per server:
//   [Server NAME]
//   Url=https://{s}.tiles.example.org/{z}/{x}/{y}.png
//   Subdomains=abc
//   MaxZoom=19
//   Attribution=Imagery by Example
//   Header.User-Agent=...
//   Header.X-Api-Key=...
// [IniParas] Server names the one in use; without it the plain TileServer setting is used.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using RequestHeaders = std::vector<std::pair<std::string, std::string>>;

inline constexpr int32_t kHighestServerZoom = 30;
inline constexpr const char* kProgramVersion = "6.2";

struct SavedServer {
  std::string name;
  std::string url;  // a URL template, or host[:port] as the TileServer setting takes it
  std::string subdomains = "abc";
  int32_t maxZoom = kHighestServerZoom;
  std::string attribution;
  RequestHeaders headers;
};

// A server as it is first offered for editing: its User-Agent names this program.
SavedServer NewSavedServer(std::string name);
std::string DefaultUserAgent();

// Nothing when the server can be stored; otherwise the message to show. Headers that frame the
// request or its connection (Host, Content-Length, Transfer-Encoding, Connection, Keep-Alive, TE,
// Trailer, Upgrade, Expect, Proxy-...), names that are not HTTP tokens, values with control
// characters and empty subdomains are refused.
std::optional<std::string> SavedServerProblem(const SavedServer& server);

// Header lines as typed ("Field: value", one a line, blank lines skipped) into headers; on a
// malformed line, the message to show and headers untouched.
std::optional<std::string> ParseHeaderLines(std::string_view text, RequestHeaders& headers);
std::string HeaderLinesText(const RequestHeaders& headers);
// Whether a header's value may be a secret (an API key, a token): any but the few that say who
// asks (User-Agent, Referer, Accept...).
bool IsSecretHeader(std::string_view field);
bool HeadersCarrySecrets(const RequestHeaders& headers);
// "Field: value" with a secret value shown as "***", as logs and lists show headers.
std::string MaskedHeaderLine(const std::pair<std::string, std::string>& header);

// Every saved server of the settings file in the file's order; none when it has no file.
// Throws qm::FileError / qm::FileTooLarge when the file cannot be read.
std::vector<SavedServer> ReadSavedServers(const std::string& configFile);
// Stores server in place of the one named replacedName (empty: a new one), in one replacement of
// the file. Throws std::invalid_argument with the message when the server has a problem or its
// name is another server's; qm::FileError when the file cannot be written. Nothing is written
// then. The file becomes owner-only once a saved header may hold a secret.
void StoreSavedServer(const std::string& configFile, std::string_view replacedName, const SavedServer& server);
// Removes the server's section; a name that is not there changes nothing.
void RemoveSavedServer(const std::string& configFile, std::string_view name);

// A server of the settings that cannot be used; what() says why.
class ServerRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A server name that is not in the settings.
class UnknownServer : public ServerRefused {
 public:
  using ServerRefused::ServerRefused;
};

// What a download or a fetch uses: the tile server setting with its subdomains written in,
// the request headers (none for the plain setting) and the highest zoom.
struct ServerInUse {
  std::string name;  // empty for the plain TileServer setting
  std::string tileServer;
  RequestHeaders headers;
  int32_t maxZoom = kHighestServerZoom;
  std::string attribution;
};
// The server named, or when name is empty the one [IniParas] Server chooses, or else the plain
// TileServer setting. Throws UnknownServer when the name is not a saved server, ServerRefused
// when its subdomains or headers (edited by hand) are ones SavedServerProblem refuses.
ServerInUse ReadServerInUse(const std::string& configFile, std::string_view name = {});
// "The server "NAME" serves zoom levels up to M; zoom Z is beyond them." when zoom is too high.
std::optional<std::string> ZoomBeyondServerText(const ServerInUse& server, int32_t zoom);
