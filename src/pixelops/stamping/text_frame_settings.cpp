#include "pixelops/stamping/text_frame_settings.h"

#include <filesystem>
#include <limits>

#include "common/atomic_file.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "common/text_codec.h"

namespace astrelon {

namespace {

constexpr size_t MaxFileBytes = 64 * 1024;

const char* YesNo(bool on) { return on ? "ja" : "nein"; }

void ReadInt(const std::string& line, int32_t& value, int64_t low = std::numeric_limits<int32_t>::min(),
             int64_t high = std::numeric_limits<int32_t>::max()) {
  if (const auto v = TryStrToInt(line); v && *v >= low && *v <= high) value = int32_t(*v);
}

}  // namespace

std::vector<std::string> TextFrameSettingsLines(const TTextFrameSettings& s) {
  const char* alignment = s.Alignment == TTextAlignment::Centre  ? "MitteAusrichtung"
                          : s.Alignment == TTextAlignment::Right ? "RechtsAusrichtung"
                                                                 : "LinksAusrichtung";
  return {s.FrameOn ? "Rahmen" : "Keinen Rahmen",
          IntToStr(s.FrameColour),
          s.FrameWidth,
          s.FontName,
          IntToStr(s.FontSize),
          IntToStr(s.FontColour),
          YesNo(s.Bold),
          YesNo(s.Italic),
          YesNo(s.Underline),
          YesNo(s.StrikeOut),
          IntToStr(s.Background),
          IntToStr(s.TitleFactor),
          s.Smooth ? "abgerundet" : "nicht abgerundet",
          s.BorderWidth,
          s.Transition ? "Uebergang" : "kein Uebergang",
          alignment};
}

void ApplyTextFrameSettingsLines(const std::vector<std::string>& lines, TTextFrameSettings& s) {
  const auto line = [&](size_t n) -> const std::string* { return n <= lines.size() ? &lines[n - 1] : nullptr; };
  if (auto l = line(1)) s.FrameOn = *l == "Rahmen";
  if (auto l = line(2)) ReadInt(*l, s.FrameColour);
  if (auto l = line(3); l && TryStrToInt(*l)) s.FrameWidth = *l;
  if (auto l = line(4); l && !l->empty()) s.FontName = *l;
  if (auto l = line(5)) ReadInt(*l, s.FontSize, 1, 1000);
  if (auto l = line(6)) ReadInt(*l, s.FontColour);
  if (auto l = line(7)) s.Bold = *l == "ja";
  if (auto l = line(8)) s.Italic = *l == "ja";
  if (auto l = line(9)) s.Underline = *l == "ja";
  if (auto l = line(10)) s.StrikeOut = *l == "ja";
  if (auto l = line(11)) ReadInt(*l, s.Background);
  if (auto l = line(12)) ReadInt(*l, s.TitleFactor, 6, 16);
  if (auto l = line(13)) s.Smooth = *l == "abgerundet";
  if (lines.size() < 14) {
    if (lines.size() == 13) s.BorderWidth = "10";
    return;
  }
  if (TryStrToInt(lines[13])) s.BorderWidth = lines[13];
  if (auto l = line(15)) s.Transition = *l == "Uebergang";
  if (auto l = line(16); l && !l->empty()) {
    if ((*l)[0] == 'M') s.Alignment = TTextAlignment::Centre;
    if ((*l)[0] == 'R') s.Alignment = TTextAlignment::Right;
  }
}

bool ReadTextFrameSettings(TTextFrameSettings& s) {
  std::vector<std::string> folders{SettingsFolder()};
  for (const std::string& f : ProgramDataFolders()) folders.push_back(f);
  for (const std::string& folder : folders) {
    const std::string path = folder + "/" + TextFrameSettingsName;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) continue;
    const auto text = ReadTextFile(path, MaxFileBytes);
    if (!text) continue;
    ApplyTextFrameSettingsLines(SplitLines(*text), s);
    return true;
  }
  return false;
}

bool WriteTextFrameSettings(const TTextFrameSettings& s, std::string* error) {
  if (!EnsureSettingsFolder()) {
    if (error) *error = "Der Einstellungsordner kann nicht angelegt werden: " + SettingsFolder();
    return false;
  }
  std::string data;
  for (const std::string& l : TextFrameSettingsLines(s)) data += l + "\n";
  return WriteFileAtomic(SettingsFolder() + "/" + TextFrameSettingsName, data, error);
}

}  // namespace astrelon
