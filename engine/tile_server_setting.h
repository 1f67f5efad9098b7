// The tile server setting ([IniParas] TileServer): "host" or "host:port", or a URL template such
// as "https://tiles.example.org/imagery/{z}/{x}/{y}.jpg?key=abc" whose placeholders are filled for
// each tile (engine/url_placeholders.h names them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The tile server used while the settings name none.
inline constexpr const char* kDefaultTileServer = "localhost:8080";

// The settings file keeps values up to this many characters; a longer setting would be cut.
inline constexpr size_t kMaxTileServerLength = 2047;

// Nothing when text is a plausible host or host:port (a host name, an IPv4 address or a
// bracketed IPv6 address, and a port from 1 to 65535), or a URL template as TileUrlTemplateProblem
// accepts it; otherwise the message to show.
std::optional<std::string> TileServerProblem(std::string_view text);

// Whether the setting is a URL template rather than a host: it names a scheme ("...://").
bool IsTileUrlTemplate(std::string_view setting);
// Nothing when text is http:// or https://, a host as above (whose labels may be {s} or
// {switch:...}), and a path (with an optional query) whose placeholders are all known and name the
// tile ({z}, {x} and {y} or {-y}; or {q}; or {bbox}), without spaces or line breaks; otherwise the
// message to show, which names an unknown placeholder.
std::optional<std::string> TileUrlTemplateProblem(std::string_view text);
// The template with every placeholder replaced for the tile; an unknown one stays as it is.
std::string FilledTileUrl(std::string_view urlTemplate, int zoom, int32_t x, int32_t y);

// The URL as the log shows it: each value of its query (an access key, often) replaced by "***".
// A URL without a query is returned as it is.
std::string MaskedUrl(std::string_view url);
// Whether the tile URLs of the setting carry a query, which may hold a secret: the files that
// keep whole URLs (the failed-tile list) are then readable by their owner only.
bool TileUrlsCarrySecrets(std::string_view setting);
