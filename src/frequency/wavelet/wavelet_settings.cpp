// Settings files are read completely and checked before anything changes.
#include "frequency/wavelet/wavelet_settings.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "common/atomic_file.h"
#include "common/float_range.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/text_codec.h"

namespace astrelon {

namespace {

constexpr size_t SettingsLines = 11;
constexpr size_t LineLimit = 256;

// The gains become floats: a number beyond the float range is none.
std::optional<double> Number(const std::string& text) { return TryStrToFloat32Dot(text); }

std::string Trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

}  // namespace

bool WaveletNumbers(const TWaveletSettings& s, TWaveletNumbers& n) {
  const std::optional<double> strength = Number(s.Strength);
  if (!strength) return false;
  TWaveletNumbers r;
  for (size_t l = 0; l < 4; ++l) {
    const std::optional<double> t = Number(s.Thresholds[l]), g = Number(s.Gains[l]);
    if (!t || !g) return false;
    r.Thresholds[l] = LimitFactor(*t * *strength);
    r.Gains[l] = float(LimitFactor(*g));
  }
  n = r;
  return true;
}

TWaveletFileRead ReadWaveletSettings(const std::string& fileName, TWaveletSettings& s, std::string* error) {
  auto refuse = [&](const std::string& why) {
    if (error) *error = "Die Datei " + fileName + " enthält keine gültigen Wavelet-Einstellungen: " + why;
    return TWaveletFileRead::Refused;
  };
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) return TWaveletFileRead::Missing;
  const std::optional<std::vector<std::string>> lines = ReadFirstLines(fileName, SettingsLines, LineLimit);
  if (!lines) return refuse("sie kann nicht gelesen werden.");
  if (lines->size() < SettingsLines - 1) return refuse("sie hat weniger als 10 Zeilen.");
  const std::optional<int64_t> hardness = TryStrToInt((*lines)[0]);
  if (!hardness || *hardness < 0 || *hardness > 3) return refuse("Zeile 1 ist keine Threshold-Härte von 0 bis 3.");
  for (size_t k = 1; k < SettingsLines - 1; ++k)
    if (!Number((*lines)[k])) return refuse("Zeile " + IntToStr(int64_t(k) + 1) + " ist keine Zahl.");
  TWaveletSettings r;
  r.Hardness = int32_t(*hardness);
  r.Strength = Trimmed((*lines)[1]);
  for (size_t l = 0; l < 4; ++l) {
    r.Thresholds[l] = Trimmed((*lines)[2 + l]);
    r.Gains[l] = Trimmed((*lines)[6 + l]);
  }
  r.Better = lines->size() >= SettingsLines && (*lines)[10] == "highqual";
  s = r;
  return TWaveletFileRead::Read;
}

std::string FormatWaveletSettings(const TWaveletSettings& s) {
  std::string text = IntToStr(s.Hardness) + "\r\n" + s.Strength + "\r\n";
  for (const std::string& t : s.Thresholds) text += t + "\r\n";
  for (const std::string& g : s.Gains) text += g + "\r\n";
  return text + (s.Better ? "highqual" : "loqual") + "\r\n";
}

bool WriteWaveletSettings(const std::string& fileName, const TWaveletSettings& s, std::string* error) {
  return WriteFileAtomic(fileName, FormatWaveletSettings(s), error);
}

}  // namespace astrelon
