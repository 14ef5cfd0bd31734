#pragma once
// The program's own FITS COMMENT cards that carry a slot's display settings
// ("COMMENT QZHistPar Min ..." and "COMMENT QZHP3 ..."), with the small
// formatting routines they are built from.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "store/display/display_record.h"

namespace astrelon {

inline constexpr std::string_view HistParCardKey = "COMMENT QZHistPar Min ";
inline constexpr std::string_view Hp3CardKey = "COMMENT QZHP3 ";

// Right-justified decimal in `width` characters; `width` nines when wider.
std::string FormatIntField(int64_t value, int width);
// The float's 32-bit pattern as 8 upper-case hexadecimal digits.
std::string FloatToHexBits(float f);
// Round((v - lo) * 65535 / (hi - lo)) as 4 hexadecimal digits, 0000 below 0 and
// FFFF from 65535 up ("0000" when hi = lo).
std::string ScaledToHex(double v, double lo, double hi);
// Inverses; nullopt when the text is not exactly 8 (4) hexadecimal digits.
std::optional<float> HexBitsToFloat(std::string_view hex);
std::optional<double> HexToScaled(std::string_view hex, double lo, double hi);

// The two cards for a display record.
std::string HistParCardText(const TDisplayRecord& d);
std::string Hp3CardText(const TDisplayRecord& d);

// Values of a "COMMENT QZHistPar Min " card.
struct THistParValues {
  int64_t Min = 0;
  int64_t Max = 0;
  double Gamma = 1;
  int Typ = 0;
};
// Nullopt when the card does not parse.
std::optional<THistParValues> ParseHistParCard(std::string_view card);
// White, Black, Gamma and CurveMode from the values.
void ApplyHistPar(const THistParValues& v, TDisplayRecord& d);
// Sets the display record from a "COMMENT QZHP3 " card field by field; the first
// field that does not parse (or holds an impossible value) ends the reading and
// what was set so far stays. True when the whole card was read.
bool ApplyHp3Card(std::string_view card, TDisplayRecord& d);

}  // namespace astrelon
