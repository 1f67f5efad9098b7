// Parsing of "/maptiler/v2/maptile/newest/satellite.day/Z/X/Y/256/png8".
#include "demo/tile_request.h"

#include <charconv>

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
