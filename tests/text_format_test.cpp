// Number texts: the general and fixed formats and the three number readers.
#include "platform/text_format.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using qm::FormatF20;
using qm::FormatG15;

TEST(GeneralFormat, FixedAndScientificTexts) {
  EXPECT_EQ(FormatG15(0.0, '.'), "0");
  EXPECT_EQ(FormatG15(-0.0, '.'), "0");
  EXPECT_EQ(FormatG15(5e-5, '.'), "5E-5");
  EXPECT_EQ(FormatG15(0.0001, '.'), "0.0001");
  EXPECT_EQ(FormatG15(40.712776184082031, '.'), "40.712776184082");
  EXPECT_EQ(FormatG15(static_cast<float>(0.3f * (1.0L / 3600.0L)), '.'), "8.33333397167735E-5");
  EXPECT_EQ(FormatG15(1e15, '.'), "1E15");
  EXPECT_EQ(FormatG15(999999999999999.0, '.'), "999999999999999");
  EXPECT_EQ(FormatG15(999999999999999.9, '.'), "1E15");  // decided on the rounded value
  EXPECT_EQ(FormatG15(-74.0, '.'), "-74");
  EXPECT_EQ(FormatG15(-74.00390625, '.'), "-74.00390625");
  EXPECT_EQ(FormatG15(116.3, '.'), "116.3");
  EXPECT_EQ(FormatG15(-1.25e-7, '.'), "-1.25E-7");
  EXPECT_EQ(FormatG15(123456789012345678.0, '.'), "1.23456789012346E17");
  EXPECT_EQ(FormatG15(0.1 + 0.2, '.'), "0.3");
  EXPECT_EQ(FormatG15(12.5, ','), "12,5");
  EXPECT_EQ(FormatG15(100.0, '.'), "100");
}

TEST(GeneralFormat, TiesRoundToEvenFromTheExactBinaryValue) {
  // Tile edges at high zooms are exact binary fractions with a 5 as their 16th digit.
  EXPECT_EQ(FormatG15(-179.9835205078125, '.'), "-179.983520507812");
  EXPECT_EQ(FormatG15(-179.9945068359375, '.'), "-179.994506835938");
}

TEST(FixedFormat, TwentyWideFourteenDecimals) {
  EXPECT_EQ(FormatF20(-180.0), " -180.00000000000000");
  EXPECT_EQ(FormatF20(-74.00390625), "  -74.00390625000000");
  EXPECT_EQ(FormatF20(0.0), "    0.00000000000000");
  EXPECT_EQ(FormatF20(40.71395582628), "   40.71395582628000");
  EXPECT_EQ(FormatF20(12345.5).size(), 20u);
  EXPECT_EQ(FormatF20(-1234567.5), "-1234567.50000000000000");  // wider than the field, not cut
}

TEST(IntegerRule, AcceptsDecimalAndHexadecimal) {
  EXPECT_EQ(qm::IntegerFromText(" 12"), 12);
  EXPECT_EQ(qm::IntegerFromText("+7"), 7);
  EXPECT_EQ(qm::IntegerFromText("-12"), -12);
  EXPECT_EQ(qm::IntegerFromText("$1F"), 31);
  EXPECT_EQ(qm::IntegerFromText("0x1"), 1);
  EXPECT_EQ(qm::IntegerFromText("0X1f"), 31);
  EXPECT_EQ(qm::IntegerFromText("2147483647"), 2147483647);
  EXPECT_EQ(qm::IntegerFromText("-2147483648"), INT32_MIN);
  EXPECT_EQ(qm::IntegerFromText("007"), 7);
}

TEST(IntegerRule, RejectsEverythingElse) {
  for (const char* bad : {"", " ", "12.5", "12 ", "2147483648", "-2147483649", "$80000000", "$",
                          "0x", "abc", "1e3", "--1", "+", "\t1", "１"}) {
    EXPECT_FALSE(qm::IntegerFromText(bad).has_value()) << '"' << bad << '"';
  }
  EXPECT_EQ(qm::IntegerFromTextOr("yes", 0), 0);
  EXPECT_EQ(qm::IntegerFromTextOr("", 100), 100);
}

TEST(StrictNumberRule, AcceptsPlainAndExponentForms) {
  EXPECT_EQ(qm::StrictNumberFromText("116.3"), 116.3);
  EXPECT_EQ(qm::StrictNumberFromText("-1e-5"), -1e-5);
  EXPECT_EQ(qm::StrictNumberFromText("5E-5"), 5e-5);
  EXPECT_EQ(qm::StrictNumberFromText("+180"), 180.0);
  EXPECT_EQ(qm::StrictNumberFromText(".5"), 0.5);
  EXPECT_EQ(qm::StrictNumberFromText("5."), 5.0);
  EXPECT_EQ(qm::StrictNumberFromText(" 12 "), 12.0);
  EXPECT_EQ(qm::StrictNumberFromText("1e-400"), 0.0);
}

TEST(StrictNumberRule, RejectsMalformedAndOverflowingTexts) {
  for (const char* bad : {"", "1.2.3", "abc", "1e", "1e+", ".", "-", "1,5", "0x10", "inf", "nan",
                          "1e400", "1 2", "--1"}) {
    EXPECT_FALSE(qm::StrictNumberFromText(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(LenientRule, ReadsTheLongestNumberPrefix) {
  EXPECT_EQ(qm::LenientDoubleFromText("15,6"), 15.0);
  EXPECT_EQ(qm::LenientDoubleFromText("x"), 0.0);
  EXPECT_EQ(qm::LenientDoubleFromText(""), 0.0);
  EXPECT_EQ(qm::LenientDoubleFromText("  29.5"), 29.5);
  EXPECT_EQ(qm::LenientDoubleFromText("-0.3abc"), -0.3);
  EXPECT_EQ(qm::LenientDoubleFromText("2e3x"), 2000.0);
  EXPECT_EQ(qm::LenientDoubleFromText("2ex"), 2.0);
  EXPECT_TRUE(std::isinf(qm::LenientDoubleFromText("1e999")));
}

}  // namespace
