#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "common/pascal_format.h"

using namespace astrelon;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TEST(FloatToStrF, ExponentKeepsTrailingZerosAndTwoExponentDigits) {
  EXPECT_EQ(FloatToStrF(1.5, TFloatFormat::Exponent, 14, 2), "1.5000000000000E+00");
  EXPECT_EQ(FloatToStrF(-2.0, TFloatFormat::Exponent, 14, 2), "-2.0000000000000E+00");
  EXPECT_EQ(FloatToStrF(1e-100, TFloatFormat::Exponent, 14, 2), "1.0000000000000E-100");
  EXPECT_EQ(FloatToStrF(123.45678901234, TFloatFormat::Exponent, 14, 2), "1.2345678901234E+02");
  EXPECT_EQ(FloatToStrF(0.0, TFloatFormat::Exponent, 4, 2), "0.000E+00");
  EXPECT_EQ(FloatToStrF(99999.0, TFloatFormat::Exponent, 3, 0), "1.00E+5");
  EXPECT_EQ(FloatToStrF(12.0, TFloatFormat::Exponent, 3, 4), "1.20E+0001");
}

TEST(FloatToStrF, GeneralSwitchesToScientificByPrecision) {
  EXPECT_EQ(FloatToStrF(2.0 / 3, TFloatFormat::General, 4, 0), "0.6667");
  // More integer digits than the precision: scientific, no "+" and Digits as
  // the minimum number of exponent digits.
  EXPECT_EQ(FloatToStrF(123456.0, TFloatFormat::General, 4, 0), "1.235E5");
  EXPECT_EQ(FloatToStrF(123456.0, TFloatFormat::General, 4, 2), "1.235E05");
  EXPECT_EQ(FloatToStrF(1234.0, TFloatFormat::General, 4, 0), "1234");
  // Rounding can carry into a new digit before the decision is made.
  EXPECT_EQ(FloatToStrF(9999.7, TFloatFormat::General, 4, 0), "1E4");
  EXPECT_EQ(FloatToStrF(-0.000012345, TFloatFormat::General, 6, 0), "-1.2345E-5");
  EXPECT_EQ(FloatToStrF(-0.0, TFloatFormat::General, 6, 0), "0");
}

TEST(FloatToStrF, FixedAndNumber) {
  EXPECT_EQ(FloatToStrF(1234.5, TFloatFormat::Fixed, 15, 2), "1234.50");
  EXPECT_EQ(FloatToStrF(1234.5678, TFloatFormat::Fixed, 6, 2), "1234.57");
  // Digits beyond the precision are zeros.
  EXPECT_EQ(FloatToStrF(12345.678, TFloatFormat::Fixed, 6, 2), "12345.70");
  EXPECT_EQ(FloatToStrF(21.94, TFloatFormat::Fixed, 4, 1), "21.9");
  EXPECT_EQ(FloatToStrF(0.5, TFloatFormat::Fixed, 15, 0), "0");
  EXPECT_EQ(FloatToStrF(-0.001, TFloatFormat::Fixed, 15, 2), "0.00");
  EXPECT_EQ(FloatToStrF(-3.25, TFloatFormat::Fixed, 15, 3), "-3.250");
  // More integer digits than the precision: scientific notation.
  EXPECT_EQ(FloatToStrF(1e20, TFloatFormat::Fixed, 15, 2), "1E20");
  EXPECT_EQ(FloatToStrF(1234567.891, TFloatFormat::Number, 15, 2), "1,234,567.89");
  EXPECT_EQ(FloatToStrF(-999.5, TFloatFormat::Number, 15, 0), "-1,000");
  EXPECT_EQ(FloatToStrF(123.0, TFloatFormat::Number, 15, 1), "123.0");
}

TEST(FloatToStrF, HalvesOfTheBinaryValueRoundToEven) {
  EXPECT_EQ(FloatToStrF(0.125, TFloatFormat::Fixed, 15, 2), "0.12");
  EXPECT_EQ(FloatToStrF(0.375, TFloatFormat::Fixed, 15, 2), "0.38");
  EXPECT_EQ(FormatFixed(2.5, 0), "2");
  EXPECT_EQ(FormatFixed(3.5, 0), "4");
  EXPECT_EQ(FormatFixed(-0.125, 2), "-0.12");
  // 2.675 is stored a little below the half, so it rounds down.
  EXPECT_EQ(FormatFixed(2.675, 2), "2.67");
}

TEST(FloatToStrF, NonFiniteValues) {
  for (TFloatFormat f : {TFloatFormat::General, TFloatFormat::Exponent, TFloatFormat::Fixed, TFloatFormat::Number}) {
    EXPECT_EQ(FloatToStrF(kInf, f, 15, 2), "INF");
    EXPECT_EQ(FloatToStrF(-kInf, f, 15, 2), "-INF");
    EXPECT_EQ(FloatToStrF(kNaN, f, 15, 2), "NAN");
  }
  EXPECT_EQ(FormatFixed(kNaN, 2), "NAN");
  EXPECT_EQ(FormatFloat("0.00", -kInf), "-INF");
}

TEST(FloatToStr, FifteenSignificantDigits) {
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(0.2), "0.2");
  EXPECT_EQ(FloatToStr(4.0), "4");
  EXPECT_EQ(FloatToStr(100), "100");
  EXPECT_EQ(FloatToStr(1e20), "1E20");
  EXPECT_EQ(FloatToStr(1e14), "100000000000000");
  EXPECT_EQ(FloatToStr(1e15), "1E15");
  EXPECT_EQ(FloatToStr(0.0001), "0.0001");
  EXPECT_EQ(FloatToStr(0.00001), "1E-5");
  EXPECT_EQ(FloatToStr(-1.5e-7), "-1.5E-7");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToStr(0.0), "0");
  EXPECT_EQ(FloatToStr(1e300), "1E300");
  EXPECT_EQ(FloatToStr(5e-324), "4.94065645841247E-324");
}

TEST(FormatFloat, Pictures) {
  EXPECT_EQ(FormatFloat("0.000", 1.23456), "1.235");
  EXPECT_EQ(FormatFloat("#0.00", -0.001), "0.00");
  EXPECT_EQ(FormatFloat("0.00", -0.001), "0.00");
  EXPECT_EQ(FormatFloat("0.###", 2.5), "2.5");
  EXPECT_EQ(FormatFloat("0.##", 2.0), "2");
  EXPECT_EQ(FormatFloat("0.#", 123456.78), "123456.8");
  EXPECT_EQ(FormatFloat("0", 1234567.5), "1234568");
  EXPECT_EQ(FormatFloat("#,##0.0", 1234567.89), "1,234,567.9");
  EXPECT_EQ(FormatFloat("#,##0", 999.0), "999");
  EXPECT_EQ(FormatFloat("#,##0", -1000.0), "-1,000");
  EXPECT_EQ(FormatFloat("000", 7.0), "007");
  EXPECT_EQ(FormatFloat("#.##", 0.5), ".5");
  EXPECT_EQ(FormatFloat("0.00", -12.345), "-12.35");  // 12.345 is stored above the half
  EXPECT_EQ(FormatFloat("00.0##", 3.14159), "03.142");
}

TEST(FormatFloat, ExponentSections) {
  EXPECT_EQ(FormatFloat("0.00E+00", 12345), "1.23E+04");
  EXPECT_EQ(FormatFloat("0.00E+00", 0.00012345), "1.23E-04");
  EXPECT_EQ(FormatFloat("0.00E-00", 12345), "1.23E04");
  EXPECT_EQ(FormatFloat("0.00e-0", 0.012), "1.20e-2");
  EXPECT_EQ(FormatFloat("0.##E+0", 100), "1E+2");
  EXPECT_EQ(FormatFloat("0.00E+00", 0.0), "0.00E+00");
  EXPECT_EQ(FormatFloat("0.00E+00", -9.999), "-1.00E+01");
}

TEST(FormatFloat, SectionsAndLiterals) {
  EXPECT_EQ(FormatFloat("0.0;(0.0);'null'", 1.25), "1.2");
  EXPECT_EQ(FormatFloat("0.0;(0.0);'null'", -1.25), "(1.2)");
  EXPECT_EQ(FormatFloat("0.0;(0.0);'null'", 0.0), "null");
  EXPECT_EQ(FormatFloat("0.0;(0.0);'null'", 0.01), "null");  // rounds to zero
  EXPECT_EQ(FormatFloat("0.0;;'null'", -2.0), "-2.0");       // empty section: the first one
  EXPECT_EQ(FormatFloat("0.00 \"min\"", 1.5), "1.50 min");
  EXPECT_EQ(FormatFloat("'x;y' 0", 3), "x;y 3");
  EXPECT_EQ(FormatFloat("0 'E+' 0", 3), "0 E+ 3");
  EXPECT_EQ(FormatFloat("", 0.25), "0.25");
  EXPECT_EQ(FormatFloat(";0", 0.25), "0.25");
}

TEST(IntText, DecimalAndHex) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToStr(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(0xABCDEF, 2), "ABCDEF");
  EXPECT_EQ(IntToHex(0, 0), "0");
  EXPECT_EQ(IntToHex(static_cast<uint32_t>(-1), 8), "FFFFFFFF");
}

TEST(TryStrToFloat, AcceptsDecimalNumbersOnly) {
  EXPECT_EQ(TryStrToFloat("1.5"), 1.5);
  EXPECT_EQ(TryStrToFloat("  -2.25e3 "), -2250.0);
  EXPECT_EQ(TryStrToFloat("+.5"), 0.5);
  EXPECT_EQ(TryStrToFloat("5."), 5.0);
  EXPECT_EQ(TryStrToFloat("1E-5"), 1e-5);
  EXPECT_EQ(TryStrToFloat("0.1"), 0.1);
  EXPECT_EQ(TryStrToFloat("1e-400"), 0.0);  // underflow gives zero
  for (const char* bad : {"", " ", "1,5", "1.5x", "abc", "inf", "nan", "0x10", "1e", "1e+", ".", "-", "1 2",
                          "--1", "1e400", "1.5.2"})
    EXPECT_FALSE(TryStrToFloat(bad)) << bad;
  EXPECT_EQ(StrToFloatDef("bad", -1.0), -1.0);
  EXPECT_EQ(StrToFloatDef("3", -1.0), 3.0);
}

TEST(TryStrToInt, WholeNumbersInRange) {
  EXPECT_EQ(TryStrToInt("42"), 42);
  EXPECT_EQ(TryStrToInt(" -7 "), -7);
  EXPECT_EQ(TryStrToInt("+7"), 7);
  EXPECT_EQ(TryStrToInt("9223372036854775807"), std::numeric_limits<int64_t>::max());
  for (const char* bad : {"", "1.0", "9223372036854775808", "12a", "+-1", "- 1", "0x1F"})
    EXPECT_FALSE(TryStrToInt(bad)) << bad;
  EXPECT_EQ(StrToIntDef("x", 5), 5);
}

TEST(RoundTrunc, HalvesToEvenAndClamped) {
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(Round(3.5), 4);
  EXPECT_EQ(Round(-2.5), -2);
  EXPECT_EQ(Round(-2.6), -3);
  EXPECT_EQ(Trunc(-2.9), -2);
  EXPECT_EQ(Trunc(2.9), 2);
  EXPECT_EQ(Round(1e30), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Round(-1e30), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Trunc(9223372036854775808.0), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(Round(kNaN), 0);
  EXPECT_EQ(Round32(3e9), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Trunc32(-3e9), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Round32(-kInf), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Round32(0.5), 0);
  EXPECT_EQ(Round32(1.5), 2);
  EXPECT_EQ(Trunc32(kNaN), 0);
}
