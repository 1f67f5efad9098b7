// Finding, checking and filling the placeholders of a tile URL template.
#include "engine/url_placeholders.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace {

// Half the width of the Web Mercator plane in metres: the equator's half length.
constexpr double kMercatorHalfWidth = 20037508.342789244;
constexpr std::string_view kSwitch = "switch:";

std::vector<std::string> SplitAtCommas(std::string_view text) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t comma = text.find(',', start);
    parts.emplace_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

bool IsSubdomainName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.';
  });
}

// Neighbouring tiles take different choices, so a map's requests spread over all of them.
const std::string& Rotated(const std::vector<std::string>& choices, int32_t x, int32_t y) {
  const int64_t sum = int64_t{x} + int64_t{y};
  const auto count = static_cast<int64_t>(choices.size());
  return choices[static_cast<size_t>(((sum % count) + count) % count)];
}

void AppendFixed(std::string& text, double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  text.append(buffer, ec == std::errc() ? end : buffer);
}

std::string Filled(std::string_view name, int zoom, int32_t x, int32_t y) {
  if (name == "z") return std::to_string(zoom);
  if (name == "x") return std::to_string(x);
  if (name == "y") return std::to_string(y);
  if (name == "-y") return std::to_string((int64_t{1} << zoom) - 1 - y);
  if (name == "q") return Quadkey(zoom, x, y);
  if (name == "bbox") return TileBoundingBox(zoom, x, y);
  if (name == "s") return Rotated(SubdomainList(kDefaultSubdomains), x, y);
  return Rotated(SplitAtCommas(name.substr(kSwitch.size())), x, y);
}

}  // namespace

std::optional<std::vector<Placeholder>> FindPlaceholders(std::string_view urlTemplate, size_t* unclosedAt) {
  std::vector<Placeholder> found;
  for (size_t open = urlTemplate.find('{'); open != std::string_view::npos; open = urlTemplate.find('{', open + 1)) {
    const size_t close = urlTemplate.find('}', open);
    if (close == std::string_view::npos) {
      if (unclosedAt != nullptr) *unclosedAt = open;
      return std::nullopt;
    }
    found.push_back({open, close - open + 1, urlTemplate.substr(open + 1, close - open - 1)});
    open = close;
  }
  return found;
}

std::optional<std::string> PlaceholderProblem(std::string_view name) {
  for (const std::string_view known : {"z", "x", "y", "-y", "q", "s", "bbox"}) {
    if (name == known) return std::nullopt;
  }
  if (!name.starts_with(kSwitch)) {
    return "has the unknown placeholder {" + std::string(name) +
           "}; it takes {z}, {x}, {y}, {-y}, {q}, {s}, {switch:a,b,c} and {bbox}.";
  }
  const std::vector<std::string> choices = SplitAtCommas(name.substr(kSwitch.size()));
  const bool empty = std::any_of(choices.begin(), choices.end(), [](const std::string& c) { return c.empty(); });
  if (!std::all_of(choices.begin(), choices.end(), IsSubdomainName)) {
    return "has the placeholder {" + std::string(name) + "}, whose choices should be names of letters, digits, " +
           "\"-\", \"_\" or \".\" separated by commas" + (empty ? "; one of them is empty." : ".");
  }
  return std::nullopt;
}

std::optional<std::string> SubdomainsProblem(std::string_view subdomains) {
  const std::vector<std::string> names = SubdomainList(subdomains);
  const std::string quoted = "The subdomains \"" + std::string(subdomains) + "\" ";
  if (names.empty()) return quoted + "name none: write letters (\"abc\") or names separated by commas (\"t0,t1\").";
  if (std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.empty(); })) {
    return quoted + "hold an empty name between commas or at an end: write letters (\"abc\") or names separated " +
           "by single commas (\"t0,t1\").";
  }
  if (!std::all_of(names.begin(), names.end(), IsSubdomainName)) {
    return quoted + "should be letters (\"abc\") or names of letters, digits, \"-\", \"_\" or \".\" separated by " +
           "commas (\"t0,t1\").";
  }
  return std::nullopt;
}

std::vector<std::string> SubdomainList(std::string_view subdomains) {
  if (subdomains.find(',') != std::string_view::npos) return SplitAtCommas(subdomains);
  std::vector<std::string> letters;
  for (const char c : subdomains) letters.emplace_back(1, c);
  return letters;
}

std::string WithSubdomains(std::string_view urlTemplate, std::string_view subdomains) {
  std::string choices;
  for (const std::string& name : SubdomainList(subdomains)) choices += "," + name;
  const std::string replacement = "{switch:" + choices.substr(choices.empty() ? 0 : 1) + "}";
  std::string result;
  for (size_t at = 0;;) {
    const size_t found = urlTemplate.find("{s}", at);
    result += urlTemplate.substr(at, found - at);
    if (found == std::string_view::npos) return result;
    result += replacement;
    at = found + 3;
  }
}

std::string Quadkey(int zoom, int64_t x, int64_t y) {
  std::string key;
  for (int level = zoom; level > 0; --level) {
    const int64_t bit = int64_t{1} << (level - 1);
    key += static_cast<char>('0' + ((x & bit) != 0 ? 1 : 0) + ((y & bit) != 0 ? 2 : 0));
  }
  return key;
}

// Each edge is reckoned from its own tile index, so the edges on the axes come out as exactly 0
// (never -0.000000) and neighbouring tiles print the edge they share alike.
std::string TileBoundingBox(int zoom, int64_t x, int64_t y) {
  const double side = 2 * kMercatorHalfWidth / std::ldexp(1.0, zoom);
  const auto easting = [side](int64_t column) { return -kMercatorHalfWidth + static_cast<double>(column) * side; };
  const auto northing = [side](int64_t row) { return kMercatorHalfWidth - static_cast<double>(row) * side; };
  std::string box;
  AppendFixed(box, easting(x));
  box += ',';
  AppendFixed(box, northing(y + 1));
  box += ',';
  AppendFixed(box, easting(x + 1));
  box += ',';
  AppendFixed(box, northing(y));
  return box;
}

std::string FilledPlaceholders(std::string_view urlTemplate, int zoom, int32_t x, int32_t y) {
  const auto placeholders = FindPlaceholders(urlTemplate);
  if (!placeholders) return std::string(urlTemplate);
  std::string url;
  url.reserve(urlTemplate.size() + 16);
  size_t copied = 0;
  for (const Placeholder& p : *placeholders) {
    if (PlaceholderProblem(p.name)) continue;
    url += urlTemplate.substr(copied, p.at - copied);
    url += Filled(p.name, zoom, x, y);
    copied = p.at + p.length;
  }
  url += urlTemplate.substr(copied);
  return url;
}
