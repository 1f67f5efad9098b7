// The placeholders of a tile URL template: {z}, {x}, {y}, {-y} (row counted from the south),
// {q} (quadkey), {s} (a subdomain), {switch:a,b,c} (inline choices) and {bbox} (the tile's
// EPSG:3857 extent, for a WMS GetMap).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The subdomains {s} rotates through when the settings name none.
inline constexpr const char* kDefaultSubdomains = "abc";

// One placeholder of a template: where it starts, how long it is with its braces, and its text
// between the braces ("z", "-y", "switch:a,b").
struct Placeholder {
  size_t at = 0;
  size_t length = 0;
  std::string_view name;
};

// Every "{...}" of the template in order; nothing when a "{" is never closed (where is set to it).
std::optional<std::vector<Placeholder>> FindPlaceholders(std::string_view urlTemplate, size_t* unclosedAt = nullptr);
// Nothing when the placeholder is one this program fills; otherwise why it is not.
std::optional<std::string> PlaceholderProblem(std::string_view name);

// The subdomains a Subdomains setting names: comma-separated names ("t0,t1"), or else one letter
// each ("abc").
std::vector<std::string> SubdomainList(std::string_view subdomains);
// Nothing when every subdomain the setting names is a name a host can start with; otherwise the
// message to show, which says when one is empty (",,,", "a,,b", "t0,").
std::optional<std::string> SubdomainsProblem(std::string_view subdomains);
// The template with each {s} written as {switch:...} of the subdomains, so that the template alone
// says how to fill it.
std::string WithSubdomains(std::string_view urlTemplate, std::string_view subdomains);

// The tile's quadkey: one digit 0 to 3 per zoom level, "" at zoom 0.
std::string Quadkey(int zoom, int64_t x, int64_t y);
// The tile's EPSG:3857 extent "minx,miny,maxx,maxy" in metres, fixed-point with six decimals.
std::string TileBoundingBox(int zoom, int64_t x, int64_t y);

// The template with each placeholder it knows replaced for the tile; an unknown one stays as it is.
std::string FilledPlaceholders(std::string_view urlTemplate, int zoom, int32_t x, int32_t y);
