#include "pixelops/geometry/field_distortion_file.h"

#include <filesystem>
#include <optional>

#include "common/atomic_file.h"
#include "common/file_extension.h"
#include "common/text_codec.h"

namespace astrelon {

namespace {

constexpr size_t DistortionFileLines = 8;
constexpr size_t DistortionLineLimit = 1000;

}  // namespace

void ApplyDistortionLines(const std::vector<std::string>& lines, TDistortionSettings& s) {
  const size_t n = lines.size();
  const auto line = [&](size_t i, const char* missing) { return i < n ? lines[i] : std::string(missing); };
  if (n <= 4) {
    s.CentreX = s.CentreY = "0.5";
    s.Page = TDistortionPage::Pincushion;
  } else {
    s.CentreX = lines[4];
    s.CentreY = line(5, "0.5");
    if (n <= 6) {
      s.Page = TDistortionPage::Pincushion;
    } else if (lines[6] == "Kissen") {
      s.Page = TDistortionPage::Pincushion;
      if (n > 7)
        s.HorizontalOnly = lines[7] == "nurH";
      else
        s.Horizon = "0.5";
    } else if (lines[6] == "Planet") {
      s.Page = TDistortionPage::Planet;
      s.LimbContrast = line(7, "3.0");
    } else if (lines[6] == "Panorama") {
      s.Page = TDistortionPage::Panorama;
      s.Horizon = line(7, "0.5");
    }
  }
  switch (s.Page) {
    case TDistortionPage::Pincushion:
      s.A = line(0, "0.00");
      s.B = line(1, "0.00");
      s.C = line(2, "0.00");
      s.D = line(3, "1.00");
      break;
    case TDistortionPage::Planet:
      s.PlanetWidth = line(0, "1.00");
      s.PlanetFactor = line(1, "1.00");
      break;
    case TDistortionPage::Panorama:
      s.PanoramaWidth = line(0, "1.00");
      s.PanoramaFactor = line(1, "1.00");
      break;
  }
}

std::string DistortionSettingsFileName(std::string_view fileName) {
  return ReplaceFileExt(std::string(fileName), ".qzk");
}

bool ReadDistortionSettings(const std::string& fileName, TDistortionSettings& s) {
  const std::string name = DistortionSettingsFileName(fileName);
  std::error_code ec;
  if (fileName.empty() || !std::filesystem::is_regular_file(name, ec)) return false;
  const std::optional<std::vector<std::string>> lines = ReadFirstLines(name, DistortionFileLines, DistortionLineLimit);
  if (!lines) return false;
  ApplyDistortionLines(*lines, s);
  return true;
}

bool LoadDistortionSettings(const std::string& fileName) {
  TDistortionSettings s = DistortionSettings;
  if (!ReadDistortionSettings(fileName, s)) return false;
  DistortionSettings = s;
  if (DistortionSettingsChangedHook) DistortionSettingsChangedHook();
  return true;
}

std::string DistortionSettingsText(const TDistortionSettings& s) {
  std::string out;
  const auto put = [&](const std::string& v) { out += v + "\n"; };
  switch (s.Page) {
    case TDistortionPage::Pincushion:
      for (const std::string* v : {&s.A, &s.B, &s.C, &s.D, &s.CentreX, &s.CentreY}) put(*v);
      put("Kissen");
      put(s.HorizontalOnly ? "nurH" : "");
      break;
    case TDistortionPage::Planet:
      for (const std::string& v : {s.PlanetWidth, s.PlanetFactor, std::string(), std::string(), s.CentreX, s.CentreY})
        put(v);
      put("Planet");
      put(s.LimbContrast);
      break;
    case TDistortionPage::Panorama:
      for (const std::string& v :
           {s.PanoramaWidth, s.PanoramaFactor, std::string(), std::string(), s.CentreX, s.CentreY})
        put(v);
      put("Panorama");
      put(s.Horizon);
      break;
  }
  return out;
}

bool WriteDistortionSettings(const std::string& fileName, const TDistortionSettings& s, std::string* error) {
  return WriteFileAtomic(DistortionSettingsFileName(fileName), DistortionSettingsText(s), error);
}

}  // namespace astrelon
