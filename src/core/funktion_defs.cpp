#include "core/funktion_defs.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "common/pascal_format.h"

namespace astrelon {

namespace {

enum : uint8_t { kPlain = 0, kQ = 1, kI = 2 };

FTrackbar T(const char* caption, float position, float min, float max, uint8_t kind = kPlain) {
  return FTrackbar{caption, position, min, max, uint8_t((kind & kQ) ? 1 : 0), uint8_t((kind & kI) ? 1 : 0)};
}

TFunktionDef F(const char* name, std::initializer_list<FTrackbar> sliders, bool berechnen,
               std::initializer_list<FCheckBox> boxes = {}, FRadiogroup group = {}) {
  TFunktionDef d;
  d.Name = name;
  size_t k = 0;
  for (const auto& s : sliders) d.Trackbar[k++] = s;
  k = 0;
  for (const auto& b : boxes) d.CheckBox[k++] = b;
  d.Radiogroup = std::move(group);
  d.NeedsBerechnen = berechnen ? 1 : 0;
  return d;
}

}  // namespace

std::array<TFunktionDef, FunktionCount + 1> DefaultFunktionDefTable() {
  std::array<TFunktionDef, FunktionCount + 1> t;
  t[1] = F("Unsmear", {T("Stärke", 0.0f, 0, 100)}, false);
  t[2] = F("Hintergrund ebnen", {T("Vertikal", 0.5f, -10, 10), T("Horizontal", 0.5f, -10, 10)}, false);
  t[3] = F("Gauss schärfen",
           {T("Radius", 0.23f, 0.5f, 10, kQ), T("Schwelle", 0.0f, 0, 100, kQ), T("Stärke", 0.1f, 0, 500, kI)}, true);
  t[4] = F("Rauschfilter",
           {T("Schwelle", 0.15f, 0, 100), T("Radius", 0.5f, 1, 10, kQ), T("Gauss -> Cauchy", 0.25f, 0, 100)}, true);
  t[5] = F("Gauss glätten", {T("Radius", 0.1f, 0.5f, 100, kQ), T("Stärke in %", 1.0f, 0, 100)}, true);
  t[6] = F("Unscharfe Maskierung", {T("Radius", 0.5f, 1, 60), T("Stärke", 1.0f, 0, 100)}, true);
  t[7] = F("Farbsättigung", {T("Stärke", 0.25f, 0, 400, kI)}, false);
  t[8] = F("Sternradius verkleinern",
           {T("Radius", 0.25f, 0.2f, 5), T("Untere Schwelle", 0.444f, 0.01f, 5, kQ),
            T("Sterne ausblenden", 0.1f, 0, 100)},
           true, {{"Nur horizontal", 0}});
  t[9] = F("PSF schärfen", {T("Stärke", 0.5f, 0, 2), T("Iterationen", 0.5f, 1, 30, kI)}, true,
           {{"Schwarzschwelle", 1}, {"Umgebungsschwelle", 0}}, {"Funktion:", 2, 0, {"Lin", "Sqr", "", ""}});
  t[10] = F("Iteratives Gauss schärfen",
            {T("Radius", 0.2375f, 0.5f, 20, kQ), T("Iterationen", 0.5f, 1, 40, kI), T("Stärke", 0.25f, 0, 400, kI)},
            true, {{"Schwarzschwelle", 1}});
  t[11] = F("Funk11 frei", {T("Stärke", 0.25f, 0, 400, kI)}, false);
  t[12] = F("Farbrauschen filtern", {T("Schwelle", 0.25f, 0, 100), T("Radius", 0.50625f, 0.5f, 20, kQ)}, true);
  t[13] = F("Deinterlace", {T("Horizontal", 0.5f, -4, 4), T("Vertikal", 0.5f, -4, 4)}, false);
  t[14] = F("Medianfilter", {T("Pixelanzahl", 0.0f, 5, 69, kI), T("Gewichtung Mitte", 0.0f, 1, 60, kI)}, true);
  t[15] = F("Zeilen gleichhell", {T("Richtwert", 0.5f, 0, 100)}, false, {},
            {"Funktion:", 2, 0, {"Absolut", "Relativ", "", ""}});
  t[16] = F("Larson Sekanina", {T("Radius in Pixel", 0.4f, 0, 10), T("Drehung in Grad", 0.5f, 0, 30)}, true,
            {{"Winkel glätten (langsam)", 0}});
  t[17] = F("Universeller NN-Filter", {T("Skalierung", 0.44375f, 0.26f, 4, kQ)}, true);
  t[18] = F("Farbhöfe verringern", {T("Gain", 0.2f, 1, 5, kQ), T("Offset %", 0.2f, 0, 50)}, false, {},
            {"Farbe der Höfe", 6, 0, {"Rot", "Grün", "Blau", "Gelb"}});
  t[19] = F("CIELAB Helligkeit + Kontrast",
            {T("Helligkeit", 0.5f, -90, 90), T("Kontrast", 0.4f, 0.25f, 5, kQ), T("Farbsättigung", 0.5f, 0, 200)},
            false);
  t[20] = F("NLM Rauschfilter",
            {T("Radius", 0.1875f, 1, 5, kI), T("Such-Umgebung", 0.5f, 2, 12, kI), T("Stärke", 0.5f, 0, 200, kI)}, true,
            {{"Glatte Verläufe", 0}});
  t[21] = F("Strichspur zurückrechnen", {T("Horizontale Breite", 0.03125f, 1, 80, kI), T("Schwelle", 0.5f, 0, 4, kQ)},
            true);
  return t;
}

std::array<TFunktionDef, FunktionCount + 1> FunktionDefTable = DefaultFunktionDefTable();

namespace {

const FTrackbar& Slider(int i, int j) {
  static const FTrackbar none;
  if (i < 0 || i > FunktionCount) return none;
  return FunktionDefTable[size_t(i)].Trackbar[size_t(j == 1 || j == 2 ? j - 1 : 2)];
}

}  // namespace

float FunktionParamValue(int i, int j) {
  const FTrackbar& t = Slider(i, j);
  const double p = t.Position;
  const double span = double(t.Max) - double(t.Min);
  const float value = float((t.Quadratic ? p * p : p) * span + double(t.Min));
  if (i == 14 && j == 1) return float(MedianWindowSize(value));
  return value;
}

std::string FunktionParamText(int i, int j) {
  const float v = FunktionParamValue(i, j);
  if (Slider(i, j).Integer) return IntToStr(Round(v));
  const double a = std::fabs(double(v));
  return FloatToStrF(v, TFloatFormat::Fixed, 3, a < 10 ? 2 : a < 100 ? 1 : 0);
}

int32_t MedianWindowSize(float v) {
  // Clamped in floating point first, so that the conversions below stay in range.
  const double x = std::clamp(double(v), -1000.0, 1000.0);
  int64_t n;
  if (x > 46)
    n = 12 * Trunc((x + 1) / 12) + 9;
  else if (x >= 15)
    n = 8 * Trunc((x + 1) / 8) + 5;
  else
    n = 4 * Trunc((x + 1) / 4) + 1;
  return int32_t(std::clamp<int64_t>(n, 5, 69));
}

}  // namespace astrelon
