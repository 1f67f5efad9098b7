// Tile grid math: longitude/latitude to tile column/row and back, in x87 extended precision.
#include "engine/Commonfunc.h"

#include <cmath>

namespace {

using Extended = long double;

constexpr double kPi = 3.141592653589793;
// Reciprocals rounded to the extended format; the product with them replaces a division, and
// the rounding of 1/360 decides on which side of a tile boundary an exact boundary falls.
constexpr Extended kOneOver360 = 1.0L / 360.0L;
constexpr Extended kOneOver180 = 1.0L / 180.0L;

Extended TilesPerSide(uint8_t zoom) {
  const int32_t n = static_cast<int32_t>(1u << (zoom & 31u));
  return static_cast<Extended>(n);
}

// Truncation toward zero to 64 bits, keeping the low 32 bits.
int32_t TruncToInt32(Extended value) {
  const auto wide = static_cast<int64_t>(value);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
}

}  // namespace

int32_t LonToTileX(double lon, uint8_t zoom) {
  const Extended shifted = static_cast<Extended>(lon) + 180.0L;
  return TruncToInt32(shifted * kOneOver360 * TilesPerSide(zoom));
}

int32_t LatToTileY(double lat, uint8_t zoom) {
  const double phi = static_cast<double>(static_cast<Extended>(kPi) * lat * kOneOver180);
  const Extended s = sinl(phi);
  const double q = static_cast<double>((1.0L + s) / (1.0L - s));
  const double m = static_cast<double>(0.5L * logl(q));
  return TruncToInt32((1.0L - m / static_cast<Extended>(kPi)) * 0.5L * TilesPerSide(zoom));
}

double TileXToLon(double x, uint8_t zoom) {
  return static_cast<double>(360.0L * x / TilesPerSide(zoom) - 180.0L);
}

double TileYToLat(double y, uint8_t zoom) {
  const Extended pi = kPi;
  const Extended t = 2.0L * pi - 4.0L * pi * y / TilesPerSide(zoom);
  const Extended w = expl(t);
  return static_cast<double>(asinl((w - 1.0L) / (w + 1.0L)) * 180.0L / pi);
}
