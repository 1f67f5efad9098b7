// Checking the form of the tile server setting before it is stored.
#include "engine/tile_server_setting.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>
#include <vector>

#include "engine/url_placeholders.h"

namespace {

bool IsHostNameLabel(std::string_view label) {
  if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
  return std::all_of(label.begin(), label.end(),
                     [](unsigned char c) { return std::isalnum(c) != 0 || c == '-'; });
}

// A host name or dotted IPv4 address: dot-separated labels of letters, digits and hyphens.
bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (size_t start = 0;;) {
    const size_t dot = host.find('.', start);
    if (!IsHostNameLabel(host.substr(start, dot - start))) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

bool IsBracketedIpv6(std::string_view host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  const std::string_view inner = host.substr(1, host.size() - 2);
  return std::all_of(inner.begin(), inner.end(),
                     [](unsigned char c) { return std::isxdigit(c) != 0 || c == ':' || c == '.'; });
}

bool IsPort(std::string_view text) {
  int port = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  return !text.empty() && text.front() != '+' && text.front() != '-' && ec == std::errc() &&
         ptr == text.data() + text.size() && port >= 1 && port <= 65535;
}

bool IsHostAndPort(std::string_view text) {
  const size_t bracketEnd = text.rfind(']');
  const size_t colon = text.rfind(':');
  const bool hasPort = colon != std::string_view::npos && (bracketEnd == std::string_view::npos || colon > bracketEnd);
  const std::string_view host = hasPort ? text.substr(0, colon) : text;
  return (IsHostName(host) || IsBracketedIpv6(host)) && (!hasPort || IsPort(text.substr(colon + 1)));
}

// The host part with each subdomain choice ({s}, {switch:...}) filled with a sample, so that a
// host such as "{s}.tiles.example.org" is checked as a host name.
std::string HostWithSampleSubdomain(std::string_view host) {
  std::string sample;
  size_t copied = 0;
  for (const Placeholder& p : FindPlaceholders(host).value_or(std::vector<Placeholder>{})) {
    if (p.name != "s" && !p.name.starts_with("switch:")) continue;
    sample += host.substr(copied, p.at - copied);
    sample += "a";
    copied = p.at + p.length;
  }
  return sample + std::string(host.substr(copied));
}

// Which of the tile's numbers the placeholders give: each tile needs its own URL.
std::string MissingTilePlaceholders(const std::vector<Placeholder>& placeholders) {
  const auto has = [&](std::string_view name) {
    return std::any_of(placeholders.begin(), placeholders.end(), [&](const Placeholder& p) { return p.name == name; });
  };
  if (has("q") || has("bbox")) return "";
  std::string missing;
  for (const auto& [name, present] : {std::pair{"{z}", has("z")}, std::pair{"{x}", has("x")},
                                      std::pair{"{y}", has("y") || has("-y")}}) {
    if (!present) missing += (missing.empty() ? "" : ", ") + std::string(name);
  }
  return missing;
}

}  // namespace

std::optional<std::string> TileServerProblem(std::string_view text) {
  if (text.size() > kMaxTileServerLength) {
    return "The tile server setting is " + std::to_string(text.size()) + " characters long; the settings file keeps " +
           "at most " + std::to_string(kMaxTileServerLength) + ".";
  }
  if (IsTileUrlTemplate(text)) return TileUrlTemplateProblem(text);
  if (IsHostAndPort(text)) return std::nullopt;
  return "The tile server \"" + std::string(text) +
         "\" should be a host name or host:port, such as localhost:8080 or tiles.example.org (port 1 to 65535), " +
         "or a URL template with {z}, {x} and {y}, such as https://tiles.example.org/{z}/{x}/{y}.jpg.";
}

bool IsTileUrlTemplate(std::string_view setting) { return setting.find("://") != std::string_view::npos; }

std::optional<std::string> TileUrlTemplateProblem(std::string_view text) {
  const std::string quoted = "The tile server URL \"" + std::string(text) + "\" ";
  if (text.find_first_of(" \t\r\n") != std::string_view::npos) {
    return quoted + "holds a space or a line break; write a space in a URL as %20.";
  }
  const size_t schemeEnd = text.find("://");
  const std::string_view scheme = text.substr(0, schemeEnd);
  if (scheme != "http" && scheme != "https") return quoted + "should start with http:// or https://.";
  const std::string_view rest = text.substr(schemeEnd + 3);
  const size_t pathStart = rest.find_first_of("/?");
  const std::string_view host = rest.substr(0, pathStart);
  // The choices of the host's {switch:...} become host names, so they are checked as the path's are.
  for (const Placeholder& p : FindPlaceholders(host).value_or(std::vector<Placeholder>{})) {
    if (!p.name.starts_with("switch:")) continue;
    if (auto problem = PlaceholderProblem(p.name)) return quoted + *problem;
  }
  if (!IsHostAndPort(HostWithSampleSubdomain(host))) {
    return quoted + "should name a host, or host:port, after " + std::string(scheme) + "://.";
  }
  const std::string_view path = pathStart == std::string_view::npos ? "" : rest.substr(pathStart);
  size_t unclosedAt = 0;
  const auto placeholders = FindPlaceholders(path, &unclosedAt);
  if (!placeholders) return quoted + "has a \"{\" without its \"}\": " + std::string(path.substr(unclosedAt)) + ".";
  for (const Placeholder& p : *placeholders) {
    if (auto problem = PlaceholderProblem(p.name)) return quoted + *problem;
  }
  if (const std::string missing = MissingTilePlaceholders(*placeholders); !missing.empty()) {
    return quoted + "should hold {z}, {x} and {y} (or {-y}), {q} or {bbox} in its path or query for the zoom, " +
           "column and row; it lacks " + missing + ".";
  }
  return std::nullopt;
}

std::string FilledTileUrl(std::string_view urlTemplate, int zoom, int32_t x, int32_t y) {
  return FilledPlaceholders(urlTemplate, zoom, x, y);
}

std::string MaskedUrl(std::string_view url) {
  const size_t query = url.find('?');
  if (query == std::string_view::npos) return std::string(url);
  std::string masked(url.substr(0, query + 1));
  bool inValue = false;
  for (const char c : url.substr(query + 1)) {
    if (c == '&') inValue = false;
    if (inValue) continue;
    masked += c;
    if (c == '=') {
      masked += "***";
      inValue = true;
    }
  }
  return masked;
}

bool TileUrlsCarrySecrets(std::string_view setting) {
  return IsTileUrlTemplate(setting) && setting.find('?') != std::string_view::npos;
}
