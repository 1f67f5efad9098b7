// Checking the form of the tile server setting before it is stored.
#include "engine/tile_server_setting.h"

#include <algorithm>
#include <cctype>
#include <charconv>

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

}  // namespace

std::optional<std::string> TileServerProblem(std::string_view text) {
  const size_t bracketEnd = text.rfind(']');
  const size_t colon = text.rfind(':');
  const bool hasPort = colon != std::string_view::npos && (bracketEnd == std::string_view::npos || colon > bracketEnd);
  const std::string_view host = hasPort ? text.substr(0, colon) : text;
  if ((IsHostName(host) || IsBracketedIpv6(host)) && (!hasPort || IsPort(text.substr(colon + 1)))) {
    return std::nullopt;
  }
  return "The tile server \"" + std::string(text) +
         "\" should be a host name or host:port, such as localhost:8080 or tiles.example.org (port 1 to 65535).";
}
