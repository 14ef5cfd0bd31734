#pragma once
// Settings kept as packed strings: the parameter string "Fparam3" (digits and
// hexadecimal pairs at fixed positions) and the filter rows "Fparam1"/"Fparam2"
// (seven hexadecimal characters per filter function).
#include <string>

namespace astrelon {

constexpr const char* PackedParamsDefault = "0A321045110201100725150808014080";
constexpr size_t PackedParamsMaxLength = 255;

// Completes Settings.PackedParams with the tail of the default when it is
// shorter, then decodes positions 14, 23, 24-32 into Options and Settings; a
// position that does not convert keeps its value.
void DecodePackedParams();
// Writes positions 14, 23, 24-32 from Options and Settings back into the string.
// Values outside what the positions can hold are clamped.
void EncodePackedParams();

// Two decimal digits at 1-based position p, p+1 (Settings.PackedParams). Set only
// when p is below the string length; the value is clamped to 0..99.
void SetParamDigits(int p, int value);
// The number at p, p+1; when the pair is not a number, its one digit; else 0.
int GetParamDigits(int p);

// One filter function as seven characters: three sliders as two hexadecimal digits
// of Round(position x 160) (clamped to 00..FF) and one digit for the check boxes
// (1 = first, 2 = second).
std::string EncodeFilterRow(int funktionNr);
// Decodes seven characters into the table; false (row unchanged) when they do not convert.
bool DecodeFilterRow(int funktionNr, const std::string& row);
// "Fparam1" (functions 1..11, 77 characters) and "Fparam2" (12..21, 70 characters).
std::string EncodeFilterRows(int first, int last);
// Decodes `text` into functions first..last when it holds all of them; a row that
// does not convert ends the decoding there.
void DecodeFilterRows(const std::string& text, int first, int last);

}  // namespace astrelon
