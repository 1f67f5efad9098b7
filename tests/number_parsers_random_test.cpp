// Bounded random input for the number readers and formats: no crash, and the readers agree.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "platform/text_format.h"

namespace {

std::string RandomText(std::mt19937& rng) {
  static const std::string alphabet = "0123456789+-.eE$xX ,abcF\t\r\n";
  std::string text(rng() % 24, ' ');
  for (char& c : text) {
    c = rng() % 10 == 0 ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
  }
  return text;
}

TEST(NumberReadersOnRandomInput, NeverCrashAndStayConsistent) {
  std::mt19937 rng(20261207);
  for (int i = 0; i < 200000; ++i) {
    const std::string text = RandomText(rng);
    const auto strict = qm::StrictNumberFromText(text);
    const double lenient = qm::LenientDoubleFromText(text);
    if (strict && text.find_first_not_of("0123456789+-.eE") == std::string::npos) {
      ASSERT_EQ(*strict, lenient) << '"' << text << '"';  // a whole number text reads alike
    }
    if (const auto integer = qm::IntegerFromText(text)) {
      ASSERT_EQ(qm::IntegerFromText(std::to_string(*integer)), integer) << '"' << text << '"';
    }
    if (strict && std::isfinite(*strict)) {
      ASSERT_FALSE(qm::FormatG15(*strict, '.').empty());
      ASSERT_GE(qm::FormatF20(*strict).size(), 20u);
    }
  }
}

TEST(GeneralFormatOnRandomDoubles, ReadsBackWithin15Digits) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 100000; ++i) {
    uint64_t bits = rng();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = qm::FormatG15(value, '.');
    const auto back = qm::StrictNumberFromText(text);
    ASSERT_TRUE(back.has_value()) << text;
    if (value != 0 && std::fabs(value) > 1e-300) {
      ASSERT_LE(std::fabs(*back - value), std::fabs(value) * 1e-14) << text;
    }
  }
}

}  // namespace
