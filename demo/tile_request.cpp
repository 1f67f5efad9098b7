// Parsing of tile requests: "/maptiler/v2/maptile/newest/satellite.day/Z/X/Y/256/png8", TMS and
// quadkey paths, and WMS GetMap queries.
#include "demo/tile_request.h"

#include <array>
#include <charconv>
#include <cmath>

#include "engine/Unitclasstask.h"
#include "engine/tile_source.h"

namespace {

// A plain decimal number of at most ten digits, no sign, up to the next "/", which is consumed.
std::optional<int64_t> TakeNumber(std::string_view& rest) {
  const size_t end = rest.find('/');
  const std::string_view digits = rest.substr(0, end);
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || ptr != digits.data() + digits.size()) return std::nullopt;
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  return value;
}

}  // namespace

std::optional<TileKey> ParseTileRequest(std::string_view path) {
  if (!path.starts_with(kSatelliteTilePath)) return std::nullopt;
  path.remove_prefix(kSatelliteTilePath.size());
  const auto zoom = TakeNumber(path);
  const auto x = TakeNumber(path);
  const auto y = TakeNumber(path);
  if (!zoom || !x || !y || path != kSatelliteTileSuffix.substr(1)) return std::nullopt;
  if (*zoom > kMaxGridZoom) return std::nullopt;
  const int64_t side = int64_t{1} << *zoom;
  if (*x >= side || *y >= side) return std::nullopt;
  return TileKey{static_cast<int>(*zoom), static_cast<int32_t>(*x), static_cast<int32_t>(*y)};
}

namespace {

// Half the width of the Web Mercator plane in metres.
constexpr double kMercatorHalfWidth = 20037508.342789244;

std::optional<TileKey> TileOfGrid(int64_t zoom, int64_t x, int64_t y) {
  if (zoom < 0 || zoom > kMaxGridZoom) return std::nullopt;
  const int64_t side = int64_t{1} << zoom;
  if (x < 0 || y < 0 || x >= side || y >= side) return std::nullopt;
  return TileKey{static_cast<int>(zoom), static_cast<int32_t>(x), static_cast<int32_t>(y)};
}

bool TakeSuffix(std::string_view& path, std::string_view suffix) {
  if (!path.ends_with(suffix)) return false;
  path.remove_suffix(suffix.size());
  return true;
}

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return lowered;
}

std::optional<double> Number(std::string_view text) {
  double value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::array<double, 4>> BoundingBox(std::string_view text) {
  std::array<double, 4> box{};
  for (size_t i = 0; i < 4; ++i) {
    const size_t comma = text.find(',');
    if ((comma == std::string_view::npos) != (i == 3)) return std::nullopt;
    const auto value = Number(text.substr(0, comma));
    if (!value) return std::nullopt;
    box[i] = *value;
    text.remove_prefix(i == 3 ? text.size() : comma + 1);
  }
  return box;
}

// The tile whose extent the box is, each edge within a thousandth of the tile's side.
std::optional<TileKey> TileOfBox(const std::array<double, 4>& box) {
  const double width = box[2] - box[0];
  if (!(width > 0) || !(box[3] > box[1])) return std::nullopt;
  const double zoom = std::round(std::log2(2 * kMercatorHalfWidth / width));
  if (zoom < 0 || zoom > kMaxGridZoom) return std::nullopt;
  const double side = 2 * kMercatorHalfWidth / std::ldexp(1.0, static_cast<int>(zoom));
  const double x = std::round((box[0] + kMercatorHalfWidth) / side);
  const double y = std::round((kMercatorHalfWidth - box[3]) / side);
  const double edges[4] = {-kMercatorHalfWidth + x * side, kMercatorHalfWidth - (y + 1) * side,
                           -kMercatorHalfWidth + (x + 1) * side, kMercatorHalfWidth - y * side};
  for (size_t i = 0; i < 4; ++i) {
    if (std::fabs(edges[i] - box[i]) > side / 1000) return std::nullopt;
  }
  return TileOfGrid(static_cast<int64_t>(zoom), static_cast<int64_t>(x), static_cast<int64_t>(y));
}

std::string Argument(const std::map<std::string, std::string>& arguments, const std::string& name) {
  const auto found = arguments.find(name);
  return found == arguments.end() ? "" : found->second;
}

}  // namespace

std::optional<TileKey> ParseTmsRequest(std::string_view path) {
  constexpr std::string_view kPrefix = "/tms/";
  if (!path.starts_with(kPrefix) || !TakeSuffix(path, ".jpg")) return std::nullopt;
  path.remove_prefix(kPrefix.size());
  const auto zoom = TakeNumber(path);
  const auto x = TakeNumber(path);
  const auto rowFromSouth = TakeNumber(path);
  if (!zoom || !x || !rowFromSouth || !path.empty() || *zoom > kMaxGridZoom) return std::nullopt;
  return TileOfGrid(*zoom, *x, (int64_t{1} << *zoom) - 1 - *rowFromSouth);
}

std::optional<TileKey> ParseQuadkeyRequest(std::string_view path) {
  constexpr std::string_view kPrefix = "/quadkey/";
  if (!path.starts_with(kPrefix) || !TakeSuffix(path, ".jpg")) return std::nullopt;
  path.remove_prefix(kPrefix.size());
  if (path.size() > static_cast<size_t>(kMaxGridZoom)) return std::nullopt;
  int64_t x = 0, y = 0;
  for (const char digit : path) {
    if (digit < '0' || digit > '3') return std::nullopt;
    x = x * 2 + ((digit - '0') & 1);
    y = y * 2 + ((digit - '0') >> 1);
  }
  return TileOfGrid(static_cast<int64_t>(path.size()), x, y);
}

WmsAnswer ParseWmsRequest(const std::map<std::string, std::string>& arguments) {
  if (Lowered(Argument(arguments, "request")) != "getmap") return {std::nullopt, "Only REQUEST=GetMap is served."};
  const std::string crs = Argument(arguments, arguments.count("crs") != 0 ? "crs" : "srs");
  if (!crs.empty() && Lowered(crs) != "epsg:3857") return {std::nullopt, "Only CRS=EPSG:3857 is served."};
  for (const char* size : {"width", "height"}) {
    const std::string value = Argument(arguments, size);
    if (!value.empty() && value != "256") return {std::nullopt, "Only WIDTH=256 and HEIGHT=256 are served."};
  }
  const auto box = BoundingBox(Argument(arguments, "bbox"));
  if (!box) return {std::nullopt, "BBOX should be minx,miny,maxx,maxy in EPSG:3857 metres."};
  const auto tile = TileOfBox(*box);
  if (!tile) return {std::nullopt, "The BBOX is not the extent of one tile of the grid (zoom 0 to 30)."};
  return {tile, ""};
}
