// Number texts independent of the C library's locale: G15, F20 and the number readers.
#include "platform/text_format.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace qm {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char ReadDecimalSeparator() {
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  const char sep = (radix != nullptr && std::strlen(radix) == 1) ? radix[0] : '.';
  freelocale(loc);
  return sep;
}

// Rounds to 15 significant digits: the digits without trailing zeros and the decimal exponent
// of the first digit (value = d.ddd x 10^exponent).
struct Rounded {
  std::string digits;
  int exponent = 0;
};

Rounded RoundTo15Digits(double magnitude) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 14);
  std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
  const size_t e = text.find('e');
  Rounded r;
  for (char c : text.substr(0, e)) {
    if (IsDigit(c)) r.digits.push_back(c);
  }
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  r.exponent);
  while (r.digits.size() > 1 && r.digits.back() == '0') r.digits.pop_back();
  return r;
}

std::string Scientific(const Rounded& r, char sep) {
  std::string out(1, r.digits[0]);
  if (r.digits.size() > 1) {
    out.push_back(sep);
    out.append(r.digits, 1);
  }
  out += "E" + std::to_string(r.exponent);
  return out;
}

std::string Fixed(const Rounded& r, char sep) {
  const int integerDigits = r.exponent + 1;
  if (integerDigits <= 0) return std::string("0") + sep + std::string(-integerDigits, '0') + r.digits;
  std::string out = r.digits.substr(0, std::min<size_t>(r.digits.size(), integerDigits));
  if (static_cast<int>(r.digits.size()) <= integerDigits) {
    out.append(integerDigits - r.digits.size(), '0');
    return out;
  }
  out.push_back(sep);
  out.append(r.digits, integerDigits);
  return out;
}

// Length of the longest prefix of text that reads as a decimal number: optional sign, digits with
// at most one point (at least one digit), optional exponent with digits. 0 when none.
size_t NumberPrefixLength(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const size_t expStart = j;
    while (j < text.size() && IsDigit(text[j])) ++j;
    if (j > expStart) i = j;
  }
  return i;
}

// Converts an already validated number text; overflow gives +-infinity, underflow 0 or a
// denormal, as strtod does (in the "C" locale, whatever the process locale is).
double ConvertNumber(std::string_view number) {
  const char* first = number.data();
  if (*first == '+') ++first;
  double value = 0;
  auto res = std::from_chars(first, number.data() + number.size(), value);
  if (res.ec == std::errc()) return value;
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const std::string copy(number);
  return strtod_l(copy.c_str(), nullptr, cLocale);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

char SystemDecimalSeparator() {
  static const char sep = ReadDecimalSeparator();
  return sep;
}

std::string FormatG15(double value) { return FormatG15(value, SystemDecimalSeparator()); }

std::string FormatG15(double value, char decimalSeparator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  const Rounded r = RoundTo15Digits(std::fabs(value));
  const bool scientific = r.exponent < -4 || r.exponent >= 15;
  const std::string body = scientific ? Scientific(r, decimalSeparator) : Fixed(r, decimalSeparator);
  return value < 0 ? "-" + body : body;
}

std::string FormatF20(double value) {
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 14);
  std::string text(buf, static_cast<size_t>(res.ptr - buf));
  if (text.size() < 20) text.insert(0, 20 - text.size(), ' ');
  return text;
}

std::optional<int32_t> IntegerFromText(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = base == 16 ? HexValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
    if (digit < 0) return std::nullopt;
    value = value * base + digit;
    if (value > limit) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

int32_t IntegerFromTextOr(std::string_view text, int32_t defaultValue) {
  return IntegerFromText(text).value_or(defaultValue);
}

std::optional<double> StrictNumberFromText(std::string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || NumberPrefixLength(text) != text.size()) return std::nullopt;
  const double value = ConvertNumber(text);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

double LenientDoubleFromText(std::string_view text) {
  while (!text.empty() && text.front() != '\0' && std::strchr(" \t\n\v\f\r", text.front()) != nullptr) {
    text.remove_prefix(1);
  }
  const size_t length = NumberPrefixLength(text);
  return length == 0 ? 0 : ConvertNumber(text.substr(0, length));
}

}  // namespace qm
