// Histogram settings files: written with "." and CR LF, read with "." or ",";
// a file is parsed completely before anything in the slot changes.
#include "store/display/histogram_settings_file.h"

#include <filesystem>
#include <vector>

#include "common/atomic_file.h"
#include "common/file_extension.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/text_codec.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr size_t MaxSettingsFileBytes = 64 * 1024;  // a real file has under 400 bytes
constexpr const char* GammaNullLine = "gammanull ist jetzt in abgerundet/eckig";

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// A finite number that a float holds.
std::optional<float> ParseFloatLine(const std::string& line) {
  const std::optional<double> v = TryStrToFloat32Dot(line);
  if (!v) return std::nullopt;
  return float(*v);
}

}  // namespace

std::string FormatHistogramSettings(const TDisplayRecord& d) {
  std::string s;
  auto line = [&s](const std::string& text) { s += text + "\r\n"; };
  line(FloatToStr(d.Gamma));
  line(FloatToStr(d.Black));
  line(FloatToStr(d.White));
  line(FloatToStr(d.RangeLow));
  line(FloatToStr(d.RangeHigh));
  line(GammaNullLine);
  line(d.CurveMode == 1 ? "abgerundet" : "eckig");
  line(d.LumaOnly == 1 ? "NurLgamma" : "RGBgamma");
  if (d.Gamma == CurveModeGamma) {
    for (size_t k = 1; k <= 5; ++k) {
      line(FloatToStr(d.CurvePoints[k].X));
      line(FloatToStr(d.CurvePoints[k].Y));
    }
  }
  return s;
}

std::optional<THistogramSettings> ParseHistogramSettings(std::string_view text, std::string* error) {
  const std::vector<std::string> lines = SplitLines(text);
  auto number = [&](size_t n, float& out) {  // line n counts from 1
    if (n > lines.size()) {
      SetError(error, "Die Datei endet vor Zeile " + IntToStr(int64_t(n)) + ".");
      return false;
    }
    const std::optional<float> v = ParseFloatLine(lines[n - 1]);
    if (!v) {
      SetError(error, "Zeile " + IntToStr(int64_t(n)) + " enthält keine gültige Zahl.");
      return false;
    }
    out = *v;
    return true;
  };
  THistogramSettings s;
  if (!number(1, s.Gamma) || !number(2, s.Black) || !number(3, s.White) || !number(4, s.RangeLow) ||
      !number(5, s.RangeHigh))
    return std::nullopt;
  if (lines.size() < 8) {
    SetError(error, "Die Datei endet vor Zeile " + IntToStr(int64_t(lines.size()) + 1) + ".");
    return std::nullopt;
  }
  s.CurveMode = lines[6] == "abgerundet" ? 1 : 0;
  // Files of an older layout kept the rounded flag of the gamma mode in line 6.
  if (s.Gamma > 0 && lines[5] == "gammanull") s.CurveMode = 1;
  if (s.Gamma > 0 && lines[5] == "no gammanull") s.CurveMode = 0;
  s.LumaOnly = lines[7] == "NurLgamma" ? 1 : 0;
  s.HasCurve = s.Gamma == CurveModeGamma;
  if (s.HasCurve) {
    for (size_t k = 0; k < 5; ++k)
      if (!number(9 + 2 * k, s.Points[k].X) || !number(10 + 2 * k, s.Points[k].Y)) return std::nullopt;
  }
  return s;
}

bool SaveHistogramSettings(int slot, const std::string& fileName, std::string* error) {
  if (slot < 1 || slot > MaxImageSlots) {
    SetError(error, "Kein Bild gewählt.");
    return false;
  }
  return WriteFileAtomic(ReplaceFileExt(fileName, ".qzh"), FormatHistogramSettings(Store.Display[slot]), error);
}

bool LadeHistogrammeinstellung(int slot, const std::string& fileName, bool applyNow, std::string* error) {
  if (slot < 1 || slot > MaxImageSlots) {
    SetError(error, "Kein Bild gewählt.");
    return false;
  }
  const std::string name = ReplaceFileExt(fileName, ".qzh");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec)) {
    SetError(error, "Die Datei " + name + " wurde nicht gefunden.");
    return false;
  }
  const std::optional<std::string> text = ReadTextFile(name, MaxSettingsFileBytes);
  if (!text) {
    SetError(error, "Die Datei " + name + " kann nicht gelesen werden oder ist zu groß.");
    return false;
  }
  std::string why;
  const std::optional<THistogramSettings> s = ParseHistogramSettings(*text, &why);
  if (!s) {
    SetError(error, "Die Datei " + name + " ist keine gültige Histogrammeinstellung: " + why);
    return false;
  }

  ResetDisplayRange(slot, 0);
  TDisplayRecord& d = Store.Display[slot];
  d.Gamma = s->Gamma;
  d.Black = s->Black;
  d.White = s->White;
  d.RangeLow = s->RangeLow;
  d.RangeHigh = s->RangeHigh;
  d.CurveMode = s->CurveMode;
  d.LumaOnly = s->LumaOnly;
  if (s->HasCurve) {
    d.CurvePoints[0].X = d.Black;
    d.CurvePoints[6].X = d.White;
    for (size_t k = 0; k < 5; ++k) d.CurvePoints[k + 1] = s->Points[k];
  }
  d.Changed = 1;
  if (applyNow) {
    ClampDisplayRange(slot, false);
    ComputeHistogram(slot, false, true);
  }
  return true;
}

}  // namespace astrelon
