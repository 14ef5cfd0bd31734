#pragma once
// Number formatting and parsing in the styles the program's files and texts use
// (general, exponent and fixed formats with precision and digits, "#"/"0"
// pictures), independent of the C library's locale. Rounding of the printed
// digits is to nearest with halves to even on the exact binary value.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace astrelon {

enum class TFloatFormat {
  General,   // shortest of fixed and exponent with `precision` significant digits
  Exponent,  // d.ddddE+dd: `precision` significant digits, at least `digits` exponent digits
  Fixed,     // `precision` significant digits at most, `digits` decimals
  Number,    // as Fixed, with thousands separators
};

// FloatToStrF(1.5, Exponent, 14, 2) = "1.5000000000000E+00";
// FloatToStrF(2.0/3, General, 4, 0) = "0.6667"; FloatToStrF(1234.5, Fixed, 15, 2) = "1234.50".
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);
// General format with 15 significant digits.
std::string FloatToStr(double value);
// Picture formats: "0.000", "#0.00", "0.###", "#,##0.0", "0.00E+00", sections by ";".
std::string FormatFloat(std::string_view picture, double value);
// Fixed decimals, as Format('%.*f'): FormatFixed(2.5, 0) = "2", FormatFixed(-0.125, 2) = "-0.12".
std::string FormatFixed(double value, int decimals);
std::string IntToStr(int64_t value);
// Hexadecimal with at least `digits` digits, upper case.
std::string IntToHex(uint64_t value, int digits);

// Parses a decimal number with "." as separator (leading/trailing blanks allowed,
// exponent allowed); nullopt when the text is not a whole number.
std::optional<double> TryStrToFloat(std::string_view text);
std::optional<int64_t> TryStrToInt(std::string_view text);
double StrToFloatDef(std::string_view text, double def);
int64_t StrToIntDef(std::string_view text, int64_t def);

// Round: to nearest, halves to even. Trunc: toward zero. Both clamp into the
// target range first (an out-of-range float-to-int conversion is undefined).
int64_t Round(double value);
int64_t Trunc(double value);
int32_t Round32(double value);
int32_t Trunc32(double value);

}  // namespace astrelon
