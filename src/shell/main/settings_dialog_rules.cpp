#include "shell/main/settings_dialog_rules.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/number_text.h"
#include "common/pascal_format.h"
#include "core/settings.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

namespace {

struct TEditRange {
  bool Decimal;
  double Lo, Hi;
};

TEditRange RangeOf(TSettingsEdit edit) {
  switch (edit) {
    case TSettingsEdit::JpegQuality: return {false, 1, 100};
    case TSettingsEdit::PngCompression: return {false, 0, 9};
    case TSettingsEdit::HistoLow: return {true, 0, 50};
    case TSettingsEdit::HistoHigh: return {true, 51, 100};
    case TSettingsEdit::NetworkInit: return {true, 0, 99};
    case TSettingsEdit::FftSigma: return {true, 0.1, 15.9};
    case TSettingsEdit::FftMargin: return {false, 0, 99};
    case TSettingsEdit::HotPixelSigma: return {true, 1, 19};
  }
  return {false, 0, 0};
}

int32_t* IntegerSetting(TSettingsEdit edit) {
  switch (edit) {
    case TSettingsEdit::JpegQuality: return &Settings.JpegQuality;
    case TSettingsEdit::PngCompression: return &Settings.PngCompression;
    case TSettingsEdit::FftMargin: return &Settings.FftNoiseParam2;
    default: return nullptr;
  }
}

double* DecimalSetting(TSettingsEdit edit) {
  switch (edit) {
    case TSettingsEdit::HistoLow: return &Settings.HistoLowPercent;
    case TSettingsEdit::HistoHigh: return &Settings.HistoHighPercent;
    case TSettingsEdit::NetworkInit: return &Settings.NetworkSetting;
    case TSettingsEdit::FftSigma: return &Settings.FftNoiseParam1;
    case TSettingsEdit::HotPixelSigma: return &Settings.HotPixelSigma;
    default: return nullptr;
  }
}

// The typed number, or nothing for a text that is none (or not finite).
std::optional<double> TypedNumber(std::string_view text, bool decimal) {
  if (!decimal) {
    const std::optional<int64_t> n = TryStrToInt(text);
    return n ? std::optional<double>(double(*n)) : std::nullopt;
  }
  const std::optional<double> v = TryStrToFloatDot(text);
  return v && std::isfinite(*v) ? v : std::nullopt;
}

}  // namespace

void ApplySettingsEditText(TSettingsEdit edit, std::string_view text) {
  const TEditRange r = RangeOf(edit);
  const std::optional<double> typed = TypedNumber(text, r.Decimal);
  if (int32_t* i = IntegerSetting(edit)) {
    // Clamped as a double first: a typed 1e12 must not overflow the conversion.
    const double v = typed ? *typed : double(*i);
    *i = int32_t(std::clamp(v, r.Lo, r.Hi));
  } else if (double* d = DecimalSetting(edit)) {
    const double v = typed ? *typed : *d;
    *d = std::isfinite(v) ? std::clamp(v, r.Lo, r.Hi) : r.Lo;
  }
}

std::string SettingsEditText(TSettingsEdit edit) {
  if (const int32_t* i = IntegerSetting(edit)) return IntToStr(*i);
  if (const double* d = DecimalSetting(edit)) return FloatToStr(*d);
  return {};
}

void ApplySettingsRadio(int tag, int item) {
  if (tag != FitsFormatTag && tag != FitsExtensionTag && tag != InterpolationTag) return;
  OptionByte(Options, OptionByteIndex(tag)) = uint8_t(std::clamp(item, 0, 255));
  switch (tag) {
    case FitsFormatTag: {
      constexpr int32_t formats[3] = {-32, 32, 16};
      if (item >= 0 && item < 3) Settings.FitsSaveFormat = formats[item];
      break;
    }
    case FitsExtensionTag:
      Settings.FitsExtension = item == 1 ? ".fts" : ".fit";
      break;
    case InterpolationTag:
      if (item >= 0 && item <= 3) SetToolMode(item == 3 ? IkLanczos3 : item);
      break;
  }
}

int SettingsRadioItem(int tag) {
  switch (tag) {
    case FitsFormatTag: return Settings.FitsSaveFormat == -32 ? 0 : Settings.FitsSaveFormat == 32 ? 1 : 2;
    case FitsExtensionTag: return Settings.FitsExtension == ".fts" ? 1 : 0;
    case InterpolationTag: {
      const int32_t kind = Settings.InterpolationKind;
      return kind == IkLanczos3 ? 3 : (kind >= 0 && kind <= 2 ? kind : -1);
    }
    default: return -1;
  }
}

}  // namespace astrelon
