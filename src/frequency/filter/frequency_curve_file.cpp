// Curve files are read completely and checked before anything changes.
#include "frequency/filter/frequency_curve_file.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "common/atomic_file.h"
#include "common/file_extension.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/text_codec.h"
#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

// A million gains of some 25 characters each, with room to spare.
constexpr size_t MaxCurveFileBytes = size_t(64) << 20;

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

bool IsBlankLine(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

}  // namespace

std::optional<TFrequencyCurveFile> ParseFrequencyCurveFile(std::string_view text, std::string* error) {
  const std::vector<std::string> lines = SplitLines(text);
  const std::optional<int64_t> n = lines.empty() ? std::nullopt : TryStrToInt(lines[0]);
  if (!n || *n < 1 || *n > MaxCurveFilePoints) {
    SetError(error, "Zeile 1 enthält keine Punktzahl von 1 bis " + IntToStr(MaxCurveFilePoints) + ".");
    return std::nullopt;
  }
  if (int64_t(lines.size()) - 1 < *n) {
    SetError(error, "Die Datei enthält weniger als " + IntToStr(*n) + " Werte.");
    return std::nullopt;
  }
  TFrequencyCurveFile file;
  file.Gains.reserve(size_t(*n));
  for (size_t k = 1; k < lines.size() && int64_t(file.Gains.size()) < *n; ++k) {
    if (IsBlankLine(lines[k])) continue;
    const std::optional<double> v = TryStrToFloat32Dot(lines[k]);
    if (!v || !(*v > double(BlankLimit))) {
      SetError(error, "Zeile " + IntToStr(int64_t(k) + 1) + " enthält keine gültige Zahl.");
      return std::nullopt;
    }
    file.Gains.push_back(*v);
  }
  if (int64_t(file.Gains.size()) < *n) {
    SetError(error, "Die Datei enthält weniger als " + IntToStr(*n) + " Werte.");
    return std::nullopt;
  }
  return file;
}

TCurveFileRead ReadFrequencyCurveFile(const std::string& fileName, TFrequencyCurveFile& file, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) return TCurveFileRead::Missing;
  const std::optional<std::string> text = ReadTextFile(fileName, MaxCurveFileBytes);
  if (!text) {
    SetError(error, "Die Datei " + fileName + " kann nicht gelesen werden oder ist zu groß.");
    return TCurveFileRead::Refused;
  }
  std::string why;
  std::optional<TFrequencyCurveFile> parsed = ParseFrequencyCurveFile(*text, &why);
  if (!parsed) {
    SetError(error, "Die Datei " + fileName + " ist keine gültige Frequenzänderung: " + why);
    return TCurveFileRead::Refused;
  }
  file = std::move(*parsed);
  return TCurveFileRead::Read;
}

std::string FormatFrequencyCurveFile(std::span<const double> gains) {
  std::string s = IntToStr(int64_t(gains.size())) + "\r\n";
  for (double g : gains) s += FloatToStr(g) + "\r\n";
  return s;
}

bool WriteFrequencyCurveFile(const std::string& fileName, std::span<const double> gains, std::string* error) {
  return WriteFileAtomic(ReplaceFileExt(fileName, ".qfg"), FormatFrequencyCurveFile(gains), error);
}

std::vector<double> CurveFileGains(const TFilterCurves& curves) {
  std::vector<double> gains(curves.C.size());
  for (size_t i = 0; i < gains.size(); ++i) gains[i] = curves.C[i] / (curves.S[i] + 1e-25);
  return gains;
}

std::vector<double> ResampleCurveGains(std::span<const double> gains, int32_t K, int32_t kind) {
  const int64_t n = int64_t(gains.size());
  std::vector<double> out(size_t(std::max(K, 0)), 0.0);
  if (n < 1) return out;
  const auto& weights = KernelTables()[size_t(std::clamp(kind, 0, KernelKindCount - 1))];
  for (int32_t i = 0; i < K; ++i) {
    const double p = K > 1 ? double(i) * double(n - 1) / double(K - 1) : 0.0;
    const int64_t j = int64_t(p);
    const double phi = p - double(j);
    double sum = 0.0, wsum = 0.0;
    for (int64_t t = -1; t <= 2; ++t) {
      if (j + t < 0 || j + t >= n) continue;
      const int64_t e = int64_t(std::nearbyint((double(t) - phi) * KernelTableStepsPerPixel)) + KernelTableCentre;
      if (e < 0 || e >= KernelTableSize) continue;
      const double w = weights[size_t(e)];
      sum += w * gains[size_t(j + t)];
      wsum += w;
    }
    // Weights that cancel (not with the program's kernels) fall back to the nearest gain.
    out[size_t(i)] = wsum != 0.0 ? sum / wsum : gains[size_t(std::min<int64_t>(int64_t(std::nearbyint(p)), n - 1))];
  }
  return out;
}

}  // namespace astrelon
