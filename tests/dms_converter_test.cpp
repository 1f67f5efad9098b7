// The degrees-minutes-seconds converter: every worked example and the input errors.
#include "engine/dms_converter.h"

#include <gtest/gtest.h>

namespace {

std::string Convert(const char* d, const char* m, const char* s) {
  return DmsToDegreesText(d, m, s, '.').value_or("Input Error.");
}

TEST(DmsConverter, WorkedExamples) {
  EXPECT_EQ(Convert("40", "42", "46"), "40.712776184082");
  EXPECT_EQ(Convert("12", "30", "0"), "12.5");
  EXPECT_EQ(Convert("12", "30", ""), "12.5");
  EXPECT_EQ(Convert("-12", "30", "0"), "-11.5");
  EXPECT_EQ(Convert("-12", "-30", "0"), "-12.5");
  EXPECT_EQ(Convert("116", "23", "29.5"), "116.391525268555");
  EXPECT_EQ(Convert("39", "54", "15.6"), "39.9043350219727");
  EXPECT_EQ(Convert("39", "54", "15,6"), "39.904167175293");
  EXPECT_EQ(Convert("0", "75", "0"), "1.25");
  EXPECT_EQ(Convert("0", "0", "0"), "0");
  EXPECT_EQ(Convert("0", "0", "1"), "0.000277777784503996");
  EXPECT_EQ(Convert("0", "0", "0.3"), "8.33333397167735E-5");
  EXPECT_EQ(Convert("$10", " 0x1E", "x"), "16.5");
}

TEST(DmsConverter, DegreesOrMinutesThatAreNotIntegersAreInputErrors) {
  EXPECT_FALSE(DmsToDegrees("", "1", "1"));
  EXPECT_FALSE(DmsToDegrees("1", "", "1"));
  EXPECT_FALSE(DmsToDegrees("12.5", "0", "0"));
  EXPECT_FALSE(DmsToDegrees("12 ", "0", "0"));
  EXPECT_FALSE(DmsToDegrees("1", "2147483648", "0"));
  EXPECT_TRUE(DmsToDegrees("1", "2", "not a number"));
}

// Seconds round to nearest single: just past the largest finite single still rounds down to it;
// only from the midpoint to 2^128 on do they become infinite.
TEST(DmsConverter, SecondsNearTheSingleRangeRoundToNearest) {
  EXPECT_EQ(Convert("1", "2", "3.4028235e38"), "9.4522872085554E34");
  EXPECT_EQ(Convert("-1", "-2", "-3.4028235e38"), "-9.4522872085554E34");
  EXPECT_EQ(Convert("1", "2", "3.4028236e38"), "INF");
  EXPECT_EQ(Convert("1", "2", "-3.4028236e38"), "-INF");
}

TEST(DmsConverter, UsesTheGivenDecimalSeparator) {
  EXPECT_EQ(DmsToDegreesText("12", "30", "0", ','), "12,5");
}

}  // namespace
