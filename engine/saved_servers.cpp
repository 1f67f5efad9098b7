// Saved tile servers: checking, reading and writing their sections of the settings file.
#include "engine/saved_servers.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/saved_server_sections.h"
#include "engine/tile_server_setting.h"
#include "engine/url_placeholders.h"
#include "platform/ini_file.h"
#include "platform/text_lines.h"

namespace {

constexpr size_t kMaxServerNameLength = 100;

bool IsTokenCharacter(unsigned char c) {
  return std::isalnum(c) != 0 || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::optional<std::string> NameProblem(std::string_view name) {
  if (name.empty()) return "A server needs a name.";
  const bool plain = std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return c >= 0x20 && c != 0x7f && c != '[' && c != ']';
  });
  if (!plain || name.size() > kMaxServerNameLength || name.front() == ' ' || name.back() == ' ') {
    return "The server name \"" + std::string(name) + "\" should be at most " + std::to_string(kMaxServerNameLength) +
           " characters without \"[\", \"]\", line breaks or blanks at its ends.";
  }
  return std::nullopt;
}

// Fields that frame the request or manage its connection: the client sets them itself, and one
// from a server's settings would break every request (a body announced and never sent, another
// host, a connection upgraded).
bool IsRequestFramingField(std::string_view field) {
  for (const std::string_view framing : {"Host", "Content-Length", "Transfer-Encoding", "Connection", "Keep-Alive",
                                         "TE", "Trailer", "Upgrade", "Expect"}) {
    if (SameServerName(field, framing)) return true;
  }
  return SameServerName(field.substr(0, 6), "Proxy-");
}

bool HasControlCharacter(std::string_view value) {
  return std::any_of(value.begin(), value.end(), [](unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; });
}

std::optional<std::string> HeaderProblem(const std::pair<std::string, std::string>& header) {
  const auto& [field, value] = header;
  if (field.empty() || !std::all_of(field.begin(), field.end(), IsTokenCharacter)) {
    return "The header name \"" + field + "\" should be letters, digits and \"-\", without spaces or \":\".";
  }
  if (IsRequestFramingField(field)) {
    return "The header " + field + " cannot be a server's header: it frames the request or its connection, which " +
           "the program does itself (Host, Content-Length, Transfer-Encoding, Connection, Keep-Alive, TE, Trailer, " +
           "Upgrade, Expect and Proxy-... are refused).";
  }
  if (HasLineBreak(value) || value.find('\0') != std::string::npos) {
    return "The value of the header " + field + " holds a line break, which would end the request's headers.";
  }
  if (HasControlCharacter(value)) return "The value of the header " + field + " holds a control character.";
  if (value.size() > kMaxTileServerLength) {
    return "The value of the header " + field + " is longer than the settings file keeps (" +
           std::to_string(kMaxTileServerLength) + " characters).";
  }
  return std::nullopt;
}

// What a server's requests would carry wrongly: a subdomain that is empty, a header that is refused.
std::optional<std::string> RequestProblem(std::string_view subdomains, const RequestHeaders& headers) {
  if (auto problem = SubdomainsProblem(subdomains)) return problem;
  for (const auto& header : headers) {
    if (auto problem = HeaderProblem(header)) return problem;
  }
  return std::nullopt;
}

}  // namespace

std::string DefaultUserAgent() {
  return std::string("Quillmere/") + kProgramVersion + " (+https://quillmere.example.org/)";
}

SavedServer NewSavedServer(std::string name) {
  SavedServer server;
  server.name = std::move(name);
  server.headers = {{"User-Agent", DefaultUserAgent()}};
  return server;
}

std::optional<std::string> SavedServerProblem(const SavedServer& server) {
  if (auto problem = NameProblem(server.name)) return problem;
  if (server.url.empty()) return "The server \"" + server.name + "\" needs a URL template or a host.";
  if (auto problem = TileServerProblem(server.url)) return problem;
  if (server.maxZoom < 0 || server.maxZoom > kHighestServerZoom) {
    return "The highest zoom of a server is 0 to " + std::to_string(kHighestServerZoom) + ".";
  }
  if (HasLineBreak(server.attribution)) return "The attribution should be one line.";
  return RequestProblem(server.subdomains, server.headers);
}

std::optional<std::string> ParseHeaderLines(std::string_view text, RequestHeaders& headers) {
  RequestHeaders parsed;
  for (const std::string& raw : qm::SplitTextLines(text)) {
    const std::string_view line = TrimBlanks(raw);
    if (line.empty()) continue;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      return "The header line \"" + std::string(line) + "\" should be written as Name: value.";
    }
    std::pair<std::string, std::string> header{std::string(TrimBlanks(line.substr(0, colon))),
                                               std::string(TrimBlanks(line.substr(colon + 1)))};
    if (auto problem = HeaderProblem(header)) return problem;
    parsed.push_back(std::move(header));
  }
  headers = std::move(parsed);
  return std::nullopt;
}

std::string HeaderLinesText(const RequestHeaders& headers) {
  std::string text;
  for (const auto& [field, value] : headers) text += field + ": " + value + "\n";
  return text;
}

bool IsSecretHeader(std::string_view field) {
  for (const std::string_view open : {"User-Agent", "Referer", "Accept", "Accept-Language", "Origin"}) {
    if (SameServerName(field, open)) return false;
  }
  return true;
}

bool HeadersCarrySecrets(const RequestHeaders& headers) {
  return std::any_of(headers.begin(), headers.end(), [](const auto& h) { return IsSecretHeader(h.first); });
}

std::string MaskedHeaderLine(const std::pair<std::string, std::string>& header) {
  return header.first + ": " + (IsSecretHeader(header.first) && !header.second.empty() ? "***" : header.second);
}

std::vector<SavedServer> ReadSavedServers(const std::string& configFile) {
  return ServerSectionsOf(ReadSettingsText(configFile));
}

void StoreSavedServer(const std::string& configFile, std::string_view replacedName, const SavedServer& server) {
  if (auto problem = SavedServerProblem(server)) throw std::invalid_argument(*problem);
  const std::string text = ReadSettingsText(configFile);
  for (const SavedServer& other : ServerSectionsOf(text)) {
    if (SameServerName(other.name, server.name) && !SameServerName(other.name, replacedName)) {
      throw std::invalid_argument("A server named \"" + other.name + "\" is saved already.");
    }
  }
  WriteSettingsText(configFile, WithServerSection(text, replacedName, &server));
}

void RemoveSavedServer(const std::string& configFile, std::string_view name) {
  const std::string text = ReadSettingsText(configFile);
  WriteSettingsText(configFile, WithServerSection(text, name, nullptr));
}

ServerInUse ReadServerInUse(const std::string& configFile, std::string_view name) {
  const qm::IniFile config(configFile);
  const std::string chosen = name.empty() ? config.ReadString("IniParas", "Server", "") : std::string(name);
  ServerInUse server;
  if (chosen.empty()) {
    server.tileServer = config.ReadString("IniParas", "TileServer", kDefaultTileServer);
    const std::string subdomains = config.ReadString("TileServer", "Subdomains", "");
    if (subdomains.empty()) return server;
    if (auto problem = SubdomainsProblem(subdomains)) {
      throw ServerRefused("The [TileServer] Subdomains setting of " + configFile + " cannot be used. " + *problem);
    }
    server.tileServer = WithSubdomains(server.tileServer, subdomains);
    return server;
  }
  std::string names;
  for (const SavedServer& saved : ReadSavedServers(configFile)) {
    if (!SameServerName(saved.name, chosen)) {
      names += (names.empty() ? "" : ", ") + saved.name;
      continue;
    }
    // A section edited by hand is held to what Options would have stored.
    if (auto problem = RequestProblem(saved.subdomains, saved.headers)) {
      throw ServerRefused("The saved server \"" + saved.name + "\" of " + configFile + " cannot be used. " + *problem);
    }
    server.name = saved.name;
    server.tileServer = saved.subdomains == kDefaultSubdomains ? saved.url : WithSubdomains(saved.url, saved.subdomains);
    server.headers = saved.headers;
    server.maxZoom = saved.maxZoom;
    server.attribution = saved.attribution;
    return server;
  }
  throw UnknownServer("There is no saved server named \"" + chosen + "\"; " +
                      (names.empty() ? std::string("the settings hold none.") : "the saved servers are " + names + "."));
}

std::optional<std::string> ZoomBeyondServerText(const ServerInUse& server, int32_t zoom) {
  if (zoom <= server.maxZoom) return std::nullopt;
  return "The server \"" + server.name + "\" serves zoom levels up to " + std::to_string(server.maxZoom) + "; zoom " +
         std::to_string(zoom) + " is beyond them.";
}
