// The degrees-minutes-seconds conversion in extended precision, rounded to single precision.
#include "engine/dms_converter.h"

#include <cmath>
#include <limits>

#include "platform/text_format.h"

namespace {
constexpr long double kOneOver60 = 1.0L / 60.0L;
constexpr long double kOneOver3600 = 1.0L / 3600.0L;

// Halfway between the largest single (2^128 - 2^104) and 2^128: from here on, rounding to
// nearest (ties to even) gives infinity; anything below rounds to a finite single.
constexpr long double kSingleOverflowMidpoint = 0x1p128L - 0x1p103L;

// Rounds to nearest single precision; a value beyond the range becomes infinite, as the
// rounding would make it, without a conversion whose result the language leaves undefined.
template <typename T>
float ToSingle(T value) {
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  const long double wide = value;
  if (wide >= kSingleOverflowMidpoint) return std::numeric_limits<float>::infinity();
  if (wide <= -kSingleOverflowMidpoint) return -std::numeric_limits<float>::infinity();
  if (wide > std::numeric_limits<float>::max()) return std::numeric_limits<float>::max();
  if (wide < std::numeric_limits<float>::lowest()) return std::numeric_limits<float>::lowest();
  return static_cast<float>(value);
}
}  // namespace

std::optional<float> DmsToDegrees(std::string_view degrees, std::string_view minutes,
                                  std::string_view seconds) {
  const auto d = qm::IntegerFromText(degrees);
  const auto m = qm::IntegerFromText(minutes);
  const float s = ToSingle(qm::LenientDoubleFromText(seconds));
  if (!d || !m) return std::nullopt;
  const long double sum = static_cast<long double>(*d) + *m * kOneOver60;
  return ToSingle(sum + s * kOneOver3600);
}

std::optional<std::string> DmsToDegreesText(std::string_view degrees, std::string_view minutes,
                                            std::string_view seconds, char decimalSeparator) {
  const auto result = DmsToDegrees(degrees, minutes, seconds);
  if (!result) return std::nullopt;
  return qm::FormatG15(static_cast<double>(*result), decimalSeparator);
}
