#include "core/speckle_settings.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/pascal_format.h"

namespace astrelon {

namespace {

std::optional<int32_t> Hex(std::string_view s, size_t at, size_t count) {
  int32_t v = 0;
  for (size_t k = at; k < at + count; ++k) {
    const char c = s[k];
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) return std::nullopt;
    v = v * 16 + d;
  }
  return v;
}

std::optional<int32_t> Digit(std::string_view s, size_t at) {
  if (s[at] < '0' || s[at] > '9') return std::nullopt;
  return s[at] - '0';
}

// A field of a whole part and one digit of tenths: each part that converts
// replaces the default's.
int32_t Tenths(int32_t def, std::optional<int32_t> whole, std::optional<int32_t> tenth) {
  return whole.value_or(def / 10) * 10 + tenth.value_or(def % 10);
}

}  // namespace

TSpeckleSettings DecodeSpeckleSettings(std::string_view packed) {
  TSpeckleSettings s;
  if (packed.size() > 7) {
    s.Margin = Hex(packed, 0, 2).value_or(s.Margin);
    s.Seeing = Hex(packed, 2, 2).value_or(s.Seeing);
    s.MaxSteps = Digit(packed, 4).value_or(s.MaxSteps);
    s.MaxRadiusTenths = Tenths(s.MaxRadiusTenths, Hex(packed, 5, 2), Digit(packed, 7));
  }
  if (packed.size() > 12) {
    s.ResolutionTenths = Tenths(s.ResolutionTenths, Hex(packed, 8, 1), Digit(packed, 9));
    s.DOverR0Tenths = Tenths(s.DOverR0Tenths, Hex(packed, 10, 2), Digit(packed, 12));
  }
  return s;
}

std::string EncodeSpeckleSettings(const TSpeckleSettings& s) {
  auto tenths = [](int32_t t, int32_t maxWhole, int digits) {
    t = std::clamp(t, 0, maxWhole * 10 + 9);
    return IntToHex(uint64_t(t / 10), digits) + char('0' + t % 10);
  };
  return IntToHex(uint64_t(std::clamp(s.Margin, 0, 255)), 2) + IntToHex(uint64_t(std::clamp(s.Seeing, 0, 255)), 2) +
         char('0' + std::clamp(s.MaxSteps, 0, 9)) + tenths(s.MaxRadiusTenths, 255, 2) +
         tenths(s.ResolutionTenths, 15, 1) + tenths(s.DOverR0Tenths, 255, 2);
}

void StoreSpeckleSettings(const TSpeckleSettings& s, std::string& packed) {
  const std::string text = EncodeSpeckleSettings(s);
  if (packed.size() < text.size())
    packed = text;
  else
    packed.replace(0, text.size(), text);
}

int32_t SpeckleTenths(double value, int32_t maxWhole) {
  if (!(value > 0)) return 0;
  return int32_t(Round(std::min(value, maxWhole + 0.9) * 10));
}

std::string SpeckleTenthsText(int32_t tenths) {
  tenths = std::max(tenths, 0);
  return IntToStr(tenths / 10) + "." + char('0' + tenths % 10);
}

}  // namespace astrelon
