#pragma once
// Numbers typed by the user or stored in settings: "," and "." both count as
// the decimal separator, whatever the locale.
#include <optional>
#include <string>
#include <string_view>

namespace astrelon {

// A copy of the text with every "," replaced by ".".
std::string CommaToDot(std::string_view text);

// Trims the text, turns every "," into "." and converts; nullopt when the text is not a number.
std::optional<double> TryStrToFloatDot(std::string_view text);
// As TryStrToFloatDot, and nullopt for a number that a 32-bit float cannot
// hold (beyond +-3.4e38): values that become float pixels, gains or factors.
std::optional<double> TryStrToFloat32Dot(std::string_view text);
// As TryStrToFloatDot, and nullopt for an angle beyond +-AngleLimit degrees
// (InAngleRange): every typed or stored rotation angle is read by this.
std::optional<double> TryStrToAngleDot(std::string_view text);
// As TryStrToFloatDot; throws std::invalid_argument when the text is not a number.
double StrToFloatDot(std::string_view text);

}  // namespace astrelon
