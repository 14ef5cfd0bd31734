#include "core/settings_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>

#include "common/atomic_file.h"
#include "common/engine_ui.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/paths.h"
#include "common/text_codec.h"
#include "core/packed_params.h"
#include "core/settings.h"

namespace astrelon {

// The defaults of "BlinkzeitM10" and "Farbe" are the start values of their
// variables, so that a stored value equal to the start value is not lost.
const std::array<TSettingsKey, SettingsKeyCount> SettingsKeys = {{
    {"Fits Speicherformat", "-32"},  {"JPEG Qualitaet in %", "90"}, {"Histogramm", "Ja"},
    {"Fits Header", "Nein"},         {"Letzte Datei 1", ""},        {"Letzte Datei 2", ""},
    {"Letzte Datei 3", ""},          {"Letzte Datei 4", ""},        {"Letzte Datei 5", ""},
    {"Letzte Datei 6", ""},          {"Letzte Datei 7", ""},        {"Letzte Datei 8", ""},
    {"Links", "0"},                  {"Oben", "0"},                 {"Breite", "640"},
    {"Hoehe", "480"},                {"Hlinks", ""},                {"Hoben", ""},
    {"Hbreite", ""},                 {"Hhoehe", ""},                {"Skalieren", "Ja"},
    {"Fits Dateiendung", ".fit"},    {"Interpolation", "2"},        {"Preview", "Ja"},
    {"Histo Min%", "0.2"},           {"Histo Max%", "99.95"},       {"Panel", "Ja"},
    {"Fits umdrehen", "Ja"},         {"Font", "Arial"},             {"Foptions", "165"},
    {"Farbe", "16777215"},           {"Text", ""},                  {"Fstyle", "0"},
    {"Rawinterpolation", "Nein"},    {"Schwarzwert auf 0", "Nein"}, {"Ganzer Pfad", "Ja"},
    {"PSF skalieren", "Ja"},         {"PNG Kompression", "5"},      {"PNG interlaced", "Nein"},
    {"FFTKurve beibehalten", "Nein"}, {"TIFF skalieren", "Nein"},   {"NNordner", ""},
    {"Zoom", "Ja"},                  {"BlinkzeitM10", "10"},        {"RawWB", "Kamera"},
    {"RScale", "Ja"},                {"Ttrans", "50"},              {"Highlight", "Nein"},
    {"Bildpuffern", "Ja"},           {"Letzte Funktion 1", ""},     {"Letzte Funktion 2", ""},
    {"Letzte Funktion 3", ""},       {"Debayerfunktion", "-1"},     {"MMXundSSE", "Ja"},
    {"Gammaanpassung", "Ja"},        {"Multicores", "Ja"},          {"Fparam1", ""},
    {"Fparam2", ""},                 {"Fparam3", ""},               {"Palette", ""},
    {"HTransp", "Nein"},             {"Netzwerkini", "1.0"},        {"Letzte Funktion 4", ""},
    {"Letzte Funktion 5", ""},       {"Letzte Funktion 6", ""},     {"YUV Laden", "Nein"},
    {"Pfeiltasten", "Ja"},           {"Ausschnittbreite", "640"},   {"Ausschnitthoehe", "4:3"},
    {"Hotpixel Sigma", "4.0"},       {"Tiff Speicherformat", "2"},
}};

namespace {

constexpr size_t kMaxSettingsFileBytes = size_t(4) << 20;

// Decimal integer that fits 32 bits; nullopt for any other text.
std::optional<int32_t> Number(const std::string& v) {
  auto n = TryStrToInt(v);
  if (!n || *n < INT32_MIN || *n > INT32_MAX) return std::nullopt;
  return int32_t(*n);
}

void SetNumber(const std::string& v, int32_t& target) {
  if (auto n = Number(v)) target = *n;
}

void SetFloat(const std::string& v, double& target) {
  if (auto f = TryStrToFloat32Dot(v)) target = *f;
}

std::string Limit255(const std::string& v) { return v.size() > 255 ? v.substr(0, 255) : v; }

const char* YesNo(bool yes) { return yes ? "Ja" : "Nein"; }

// The variable a key reads and writes. `read` gets the value of a line whose
// value differs from the default; `write` gives the text to store.
struct TKeyHandler {
  std::function<void(const std::string&)> read;
  std::function<std::string()> write;
};

// Handlers by position in the key table.
std::array<TKeyHandler, SettingsKeyCount> MakeHandlers() {
  std::array<TKeyHandler, SettingsKeyCount> h;
  auto& S = Settings;
  auto& O = Options;
  auto num = [](int32_t& v) {
    return TKeyHandler{[&v](const std::string& s) { SetNumber(s, v); }, [&v] { return IntToStr(v); }};
  };
  auto str = [](std::string& v) {
    return TKeyHandler{[&v](const std::string& s) { v = s; }, [&v] { return v; }};
  };
  auto flt = [](double& v) {
    return TKeyHandler{[&v](const std::string& s) { SetFloat(s, v); }, [&v] { return FloatToStr(v); }};
  };
  // An option that is on by default: any other value turns it off; written "Nein" when off.
  auto onByDefault = [](uint8_t& v) {
    return TKeyHandler{[&v](const std::string&) { v = 0; }, [&v] { return std::string(v ? "Ja" : "Nein"); }};
  };
  // An option that is off by default: any other value turns it on; written "Ja" when on.
  auto offByDefault = [](uint8_t& v) {
    return TKeyHandler{[&v](const std::string&) { v = 1; }, [&v] { return std::string(v ? "Ja" : "Nein"); }};
  };

  h[0] = {[&S](const std::string& s) {
            if (auto n = Number(s)) S.FitsSaveFormat = *n == 32 ? 32 : 16;
          },
          [&S] { return IntToStr(S.FitsSaveFormat); }};
  h[1] = {[&S](const std::string& s) { S.JpegQuality = std::clamp(Number(s).value_or(90), 1, 100); },
          [&S] { return IntToStr(S.JpegQuality); }};
  h[2] = onByDefault(S.HistogramMenuChecked);
  h[3] = offByDefault(S.FitsHeaderChecked);
  for (int k = 1; k <= RecentFileCount; ++k) h[size_t(3 + k)] = str(S.RecentFiles[size_t(k)]);
  h[12] = num(S.MainLeft);
  h[13] = num(S.MainTop);
  h[14] = num(S.MainWidth);
  h[15] = num(S.MainHeight);
  h[16] = num(S.HistLeft);
  h[17] = num(S.HistTop);
  h[18] = {[&S](const std::string& s) { SetNumber(s, S.HistWidth); },
           [&S] { return IntToStr(int64_t(S.HistWidth) - 56); }};
  h[19] = num(S.HistHeight);
  h[20] = onByDefault(O.Scale);
  h[21] = {[&S, &O](const std::string& s) {
             const bool fts = s == ".fts";
             S.FitsExtension = fts ? ".fts" : ".fit";
             O.FitsExtFts = fts ? 1 : 0;
           },
           [&S] { return S.FitsExtension; }};
  h[22] = {[&S](const std::string& s) {
             if (auto n = Number(s); n && *n >= 0 && *n < 5) S.InterpolationKind = *n;
           },
           [&S] { return IntToStr(S.InterpolationKind); }};
  h[23] = onByDefault(O.Preview);
  h[24] = flt(S.HistoLowPercent);
  h[25] = flt(S.HistoHighPercent);
  h[26] = onByDefault(S.InfoPanelVisible);
  h[27] = onByDefault(O.FitsFlip);
  h[28] = str(S.TextFont);
  h[29] = {[&S](const std::string& s) {
             S.TextOptionsRead = 1;
             SetNumber(s, S.TextOptions);
           },
           [&S] { return IntToStr(S.TextOptions); }};
  h[30] = num(S.TextColour);
  h[31] = str(S.Text);
  h[32] = {[&S](const std::string& s) {
             if (auto n = Number(s)) S.TextStyle = *n & 15;
           },
           [&S] { return IntToStr(S.TextStyle & 15); }};
  h[33] = offByDefault(O.RawInterpolation);
  h[34] = offByDefault(O.BlackToZero);
  h[35] = onByDefault(O.FullPath);
  h[36] = onByDefault(O.PsfScale);
  h[37] = {[&S](const std::string& s) {
             if (auto n = Number(s.substr(0, 1))) S.PngCompression = *n;
           },
           [&S] { return IntToStr(S.PngCompression); }};
  h[38] = offByDefault(O.PngInterlaced);
  h[39] = offByDefault(S.FftCurveKeep);
  h[40] = offByDefault(O.TiffScale);
  h[41] = str(S.NetworkFolder);
  h[42] = {[&S](const std::string& s) { S.StoredZoom = Number(s).value_or(0); },
           [&S] { return IntToStr(ZoomNumberFromEntry(S.ZoomEntry)); }};
  h[43] = num(S.BlinkTimeTenths);
  h[44] = {[](const std::string&) {}, [] { return std::string("Kamera"); }};
  h[45] = {[&O](const std::string&) { O.RScaleOff = 1; }, [&O] { return std::string(O.RScaleOff ? "Nein" : "Ja"); }};
  h[46] = num(S.TextTransparency);
  h[47] = offByDefault(O.Highlight);
  h[48] = onByDefault(O.ImageBuffer);
  for (int k = 1; k <= 3; ++k) h[size_t(48 + k)] = str(S.RecentFunctions[size_t(k)]);
  h[52] = num(S.DemosaicMethod);
  h[53] = onByDefault(O.Simd);
  h[54] = onByDefault(O.GammaAdjust);
  h[55] = onByDefault(O.Multicore);
  h[56] = {[&S](const std::string& s) { S.FilterRows1 = Limit255(s); }, [] { return EncodeFilterRows(1, 11); }};
  h[57] = {[&S](const std::string& s) { S.FilterRows2 = Limit255(s); }, [] { return EncodeFilterRows(12, 21); }};
  h[58] = {[&S](const std::string& s) { S.PackedParams = Limit255(s); }, [&S] { return S.PackedParams; }};
  h[59] = str(S.PaletteFile);
  h[60] = offByDefault(S.HistTransparent);
  h[61] = flt(S.NetworkSetting);
  for (int k = 4; k <= 6; ++k) h[size_t(58 + k)] = str(S.RecentFunctions[size_t(k)]);
  h[65] = {[&O](const std::string&) { O.YuvLoad = 1; }, [&O] { return std::string(YesNo(O.YuvLoad == 1)); }};
  h[66] = onByDefault(O.ArrowKeys);
  h[67] = num(S.CutoutWidth);
  h[68] = str(S.CutoutAspect);
  h[69] = flt(S.HotPixelSigma);
  h[70] = num(S.TiffSaveFormat);
  return h;
}

const std::array<TKeyHandler, SettingsKeyCount>& Handlers() {
  static const auto handlers = MakeHandlers();
  return handlers;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

void ResetSettings() {
  Options = TProgramOptions{};
  Settings = TSettingsVars{};
}

void ApplySettingsLines(const std::vector<std::string>& lines) {
  const auto& handlers = Handlers();
  for (const std::string& line : lines) {
    bool matched = false;
    for (size_t k = 0; k < SettingsKeys.size(); ++k) {
      const char* key = SettingsKeys[k].Key;
      if (!StartsWith(line, key)) continue;
      matched = true;
      // The two characters after the key (": ") are skipped unchecked.
      const std::string value = Utf8Substr(line, Utf8Length(key) + 2);
      if (UpperCase(value) != UpperCase(SettingsKeys[k].Default)) {
        try {
          handlers[k].read(value);
        } catch (...) {
          // A value that does not convert leaves its variable unchanged.
        }
      }
      break;
    }
    if (!matched && Utf8Length(line) > 3) Settings.ForeignLines.push_back(line);
  }
  DecodePackedParams();
  if (Settings.FilterRows1.size() > 76) DecodeFilterRows(Settings.FilterRows1, 1, 11);
  if (Settings.FilterRows2.size() > 69) DecodeFilterRows(Settings.FilterRows2, 12, 21);
}

bool ReadSettingsFile(const std::string& path) {
  auto text = ReadTextFile(path, kMaxSettingsFileBytes);
  if (!text) return false;
  ApplySettingsLines(SplitLines(*text));
  return true;
}

bool ReadSettings() {
  for (const std::string& folder : {SettingsFolder(), ProgramFolder()}) {
    const std::string path = (std::filesystem::path(folder) / SettingsFileName).string();
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return ReadSettingsFile(path);
  }
  return false;
}

std::string SettingsFileText() {
  EncodePackedParams();
  const auto& handlers = Handlers();
  std::string out;
  for (size_t k = 0; k < SettingsKeys.size(); ++k) {
    std::string value;
    try {
      value = handlers[k].write();
    } catch (...) {
      value.clear();  // a value that cannot be formed is written empty
    }
    // A line break inside a value would start a line of its own.
    std::erase_if(value, [](char c) { return c == '\n' || c == '\r'; });
    out += SettingsKeys[k].Key;
    out += ": ";
    out += value;
    out += '\n';
  }
  for (const std::string& line : Settings.ForeignLines) out += line + '\n';
  out += " \n";
  return out;
}

std::string SettingsFilePath() { return (std::filesystem::path(SettingsFolder()) / SettingsFileName).string(); }

bool WriteSettingsFile(const std::string& path) { return WriteFileAtomic(path, SettingsFileText()); }

bool WriteSettings() {
  const std::string path = SettingsFilePath();
  std::string error;
  if (!EnsureSettingsFolder()) error = SettingsFolder();
  else if (WriteFileAtomic(path, SettingsFileText(), &error)) return true;
  // Shut-down writes the file after the windows are gone: then standard error
  // is the only place left to say so.
  const std::string text = "Die Einstellungen konnten nicht gespeichert werden:\n" + (error.empty() ? path : error);
  if (EngineUiInstalled()) EngineUi().ShowMessage(text);
  else std::cerr << text << std::endl;
  return false;
}

namespace {
// Zoom list entry of the stored numbers -3..8.
constexpr std::array<int, 12> kZoomEntry = {10, 8, 6, 0, 9, 7, 5, 3, 1, 0, 4, 2};
}  // namespace

int ZoomEntryFromNumber(int number) {
  if (number < -3 || number > 8) return -1;
  return kZoomEntry[size_t(number + 3)];
}

int ZoomNumberFromEntry(int entry) {
  if (entry == 0) return 6;
  for (int n = -3; n <= 8; ++n)
    if (n != 0 && n != 6 && kZoomEntry[size_t(n + 3)] == entry) return n;
  return 6;
}

}  // namespace astrelon
