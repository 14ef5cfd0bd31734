#pragma once
// The caption dialog's settings file "qz_text.ini": 16 lines, one value each.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pixelops/stamping/text_frame.h"

namespace astrelon {

inline constexpr const char* TextFrameSettingsName = "qz_text.ini";

struct TTextFrameSettings {
  bool FrameOn = true;
  int32_t FrameColour = 16777215;
  std::string FrameWidth = "2";  // as typed
  std::string FontName = "Arial";
  int32_t FontSize = 10;         // points
  int32_t FontColour = 16777215;
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
  int32_t Background = 0;
  int32_t TitleFactor = 8;
  bool Smooth = false;
  std::string BorderWidth = "10";  // as typed
  bool Transition = false;
  TTextAlignment Alignment = TTextAlignment::Left;
};

// The 16 lines of the file.
std::vector<std::string> TextFrameSettingsLines(const TTextFrameSettings& s);

// Applies the lines of a file to `s`: a missing or unreadable value keeps what
// `s` holds; a file that ends after line 13 sets the border width to "10".
void ApplyTextFrameSettingsLines(const std::vector<std::string>& lines, TTextFrameSettings& s);

// Reads the file from the settings folder, else from the program folders; false
// (nothing changed) when none holds it.
bool ReadTextFrameSettings(TTextFrameSettings& s);
// Writes the file into the settings folder; false with a message in `error`.
bool WriteTextFrameSettings(const TTextFrameSettings& s, std::string* error = nullptr);

}  // namespace astrelon
