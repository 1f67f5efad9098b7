// Number texts: the general (G15) and fixed (F20) formats and the three ways of reading numbers.
// None of them depends on the C library's locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The decimal separator of the environment's numeric locale (LC_NUMERIC / LANG), "." if unknown.
char SystemDecimalSeparator();

// At most 15 significant digits, trailing zeros dropped, scientific ("5E-5", "1E15") only below
// 0.0001 or from 1E15 up; zero is "0".
std::string FormatG15(double value, char decimalSeparator);
std::string FormatG15(double value);  // with SystemDecimalSeparator()

// printf "%20.14f" with "." whatever the locale: " -180.00000000000000".
std::string FormatF20(double value);

// Integer from text: leading spaces, optional sign, decimal digits or "$"/"0x"/"0X" hexadecimal,
// nothing after, within signed 32 bits. Anything else gives no value.
std::optional<int32_t> IntegerFromText(std::string_view text);
int32_t IntegerFromTextOr(std::string_view text, int32_t defaultValue);

// A coordinate typed by the user: optional sign, digits with at most one point (at least one
// digit), optional exponent with digits. Blanks around it are tolerated. Values beyond the range
// of a double give no value.
std::optional<double> StrictNumberFromText(std::string_view text);

// The common string-to-double rule: skip leading white space, read the longest number prefix
// ("." as point, optional exponent); text that starts with no number reads as 0.
double LenientDoubleFromText(std::string_view text);

}  // namespace qm
