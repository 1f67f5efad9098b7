// The tile server setting ([IniParas] TileServer): "host" or "host:port".
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The tile server used while the settings name none.
inline constexpr const char* kDefaultTileServer = "localhost:8080";

// Nothing when text is a plausible host or host:port (a host name, an IPv4 address or a
// bracketed IPv6 address, and a port from 1 to 65535); otherwise the message to show.
std::optional<std::string> TileServerProblem(std::string_view text);
