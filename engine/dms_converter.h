// Degrees, minutes and seconds to decimal degrees, with the converter window's number rules.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The decimal degrees as single precision, or nothing when the degrees or minutes text is not an
// integer. Seconds are read leniently (never an error) and rounded to single precision; the sum
// degrees + minutes/60 + seconds/3600 is formed in extended precision, in that order.
std::optional<float> DmsToDegrees(std::string_view degrees, std::string_view minutes,
                                  std::string_view seconds);

// The result as the converter shows it (general number format), or nothing on an input error.
std::optional<std::string> DmsToDegreesText(std::string_view degrees, std::string_view minutes,
                                            std::string_view seconds, char decimalSeparator);
