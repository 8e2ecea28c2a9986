// Number and text conversions against tables of known answers.
#include "console/numtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kv {
namespace {

TEST(IntegerToText, PlainDecimalDigits) {
  EXPECT_EQ(IntegerToText(0), "0");
  EXPECT_EQ(IntegerToText(1000), "1000");
  EXPECT_EQ(IntegerToText(9223372036854775807ULL), "9223372036854775807");
  EXPECT_EQ(IntegerToText(18446744073709551615ULL), "18446744073709551615");
  EXPECT_EQ(IntegerToText(static_cast<uint64_t>(int64_t{-1})), "18446744073709551615");
}

TEST(RealToText, KnownValues) {
  const std::pair<double, const char*> cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {7, "7"},
      {100, "100"},
      {15.0, "15"},
      {45.6, "45.6"},
      {99.95, "99.95"},
      {0.5, "0.5"},
      {-2.5, "-2.5"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {0.0001, "0.0001"},
      {0.00001, "1.00000000000000e-05"},
      {1e15, "1.00000000000000e+015"},
      {9007199254740992.0, "9.00719925474099e+015"},
      {123456789012345678.0, "1.23456789012346e+017"},
      {999999999999999.0, "1.00000000000000e+015"},
      {100.0, "100"},
      {1e-100, "1.00000000000000e-100"},
      {4294967295.0, "4294967295"},
      {9999999999.0, "9999999999"},
      {2147483647.0, "2147483647"},
      {-1234.0, "-1234"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(RealToText(value), text) << value;
}

TEST(RealToText, WholeNumbersAndTenthsComeOutExactly) {
  for (double v : {1.0, 9.0, 10.0, 99.0, 12345.0, 1000000.0, 3000000000.0, 8589934591.0}) {
    EXPECT_EQ(RealToText(v), std::to_string(static_cast<long long>(v)));
  }
  // Every percentage with one decimal place that a progress line can show.
  for (int tenths = 0; tenths <= 1000; ++tenths) {
    const double p = static_cast<double>(tenths) / 10;
    std::string expected = std::to_string(tenths / 10);
    if (tenths % 10 != 0) expected += "." + std::to_string(tenths % 10);
    ASSERT_EQ(RealToText(p), expected) << tenths;
  }
}

TEST(TextToInteger, DigitRunsAndWrapAround) {
  EXPECT_EQ(TextToInteger(""), 0u);
  EXPECT_EQ(TextToInteger(" 12"), 0u);
  EXPECT_EQ(TextToInteger("0042"), 42u);
  EXPECT_EQ(TextToInteger("123,456"), 123u);
  EXPECT_EQ(TextToInteger("77\r\n"), 77u);
  EXPECT_EQ(TextToInteger("18446744073709551615"), 18446744073709551615ULL);
  EXPECT_EQ(TextToInteger("18446744073709551617"), 1u);
  // A byte above '9' inside the run: only the digits after it count.
  EXPECT_EQ(TextToInteger("12a3"), 3u);
  EXPECT_EQ(TextToInteger("123abc"), 0u);
  // Runs far longer than any number do not overflow anything.
  EXPECT_EQ(TextToInteger(std::string(300, '0') + "5"), 5u);
}

TEST(TextToReal, SyntaxOfTypedAnswers) {
  EXPECT_EQ(TextToReal(""), 0);
  EXPECT_EQ(TextToReal("\t-12.5"), -12.5);
  EXPECT_EQ(TextToReal(" 12"), 12);
  EXPECT_EQ(TextToReal("&hff"), 255);
  EXPECT_EQ(TextToReal("&HFF"), 255);
  EXPECT_EQ(TextToReal("&H14"), 20);
  EXPECT_EQ(TextToReal("&o17"), 15);
  EXPECT_EQ(TextToReal("&O8"), 0);
  EXPECT_EQ(TextToReal("&X1"), 0);
  EXPECT_EQ(TextToReal("&"), 0);
  EXPECT_EQ(TextToReal("+7"), 7);
  EXPECT_EQ(TextToReal("1e5"), 1);
  EXPECT_EQ(TextToReal(".5"), 0.5);
  EXPECT_EQ(TextToReal("3.9"), 3.9);
  EXPECT_EQ(TextToReal("abc"), 0);
  EXPECT_EQ(TextToReal("-"), 0);
  EXPECT_EQ(TextToReal("9007199254740993"), 9007199254740992.0);
  EXPECT_EQ(TextToReal("&HFFFFFFFF"), 4294967295.0);
  // The top hex digit's product is read as a signed 64-bit integer.
  EXPECT_EQ(TextToReal("&H8000000000000000"), -9223372036854775808.0);
}

TEST(FloorAndTruncate, DefinedForEveryDouble) {
  EXPECT_EQ(FloorToInt32(2.7), 2);
  EXPECT_EQ(FloorToInt32(-2.7), -3);
  EXPECT_EQ(FloorToInt32(-3), -3);
  EXPECT_EQ(FloorToInt32(0), 0);
  EXPECT_EQ(TruncateToInt32(3.9), 3);
  EXPECT_EQ(TruncateToInt32(-3.9), -3);
  EXPECT_EQ(TruncateToInt32(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(TruncateToInt32(-1e300), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(TruncateToInt32(std::nan("")), 0);
  EXPECT_EQ(TruncateToInt64(1e300), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(TruncateToInt64(-1e19), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(FloorToInt32(-1e300), std::numeric_limits<int32_t>::min());
}

TEST(Power, SquaresAreExactProducts) {
  EXPECT_EQ(Power(3, 2), 9);
  EXPECT_EQ(Power(2, -1), 0.5);
  EXPECT_EQ(Power(-8, 1.0 / 3.0), 0);
  EXPECT_EQ(Power(5, 0), 1);
  EXPECT_EQ(Power(-2, 3), -8);
  const double x = 123456789.0;
  EXPECT_EQ(Power(x, 2), x * x);
  EXPECT_NEAR(Power(8, 1.0 / 3.0), 2.0, 1e-12);
}

TEST(DigitsAbove, ExactComparisonWhateverTheLength) {
  EXPECT_FALSE(DigitsAbove("9223372036854775807", 9223372036854775807ULL));
  EXPECT_TRUE(DigitsAbove("9223372036854775808", 9223372036854775807ULL));
  EXPECT_FALSE(DigitsAbove("0000000000000000000000009", 9));
  EXPECT_TRUE(DigitsAbove("18446744073709551616", 18446744073709551615ULL));
  EXPECT_TRUE(DigitsAbove("100000000000000000000000", 18446744073709551615ULL));
  EXPECT_FALSE(DigitsAbove("2147483647", 2147483647));
  EXPECT_TRUE(DigitsAbove("2147483648", 2147483647));
}

}  // namespace
}  // namespace kv
