#include "shell/main/main_services.h"

#include <algorithm>
#include <stdexcept>

#include "common/pascal_format.h"
#include "common/text_excerpt.h"
#include "core/language.h"
#include "platform/processor_features.h"
#include "store/color_models.h"

namespace astrelon {

int32_t StrToIntTrim(std::string_view s) {
  const auto v = TryStrToInt(s);
  if (!v || *v < INT32_MIN || *v > INT32_MAX)
    throw std::invalid_argument("'" + MessageExcerpt(s) + "' ist kein gültiger Integerwert");
  return int32_t(*v);
}

std::string StripAccelerators(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (char c : s)
    if (c != '&') r += c;
  return r;
}

std::string FormatFixed3(double x) { return FloatToStrF(x, TFloatFormat::Fixed, 5, 3); }

namespace {
// Words of the pixel read-out: "Wert" is the translation's kept word of section 9;
// the two blank-pixel words have keys of their own in section 10.
constexpr int KeyValueWord = LangKey(9, 7);
constexpr int KeyTransparent = LangKey(10, 21);
constexpr int KeyTransparentShort = LangKey(10, 22);
}  // namespace

std::string PixelValueText(int slot, int x, int y) {
  if (!SlotInUse(slot)) return {};
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (x < 0 || y < 0 || x >= im.Width || y >= im.Height) return {};
  for (int p = 1; p <= im.PlaneCount; ++p)
    if (im.Planes[size_t(p)].size() < im.PixelCount()) return {};
  std::string text = "X: " + IntToStr(x) + "  Y: " + IntToStr(y) + "  " + LangTextOr(KeyValueWord, "Wert") + ": ";
  auto number = [](float v) { return FloatToStrF(v, TFloatFormat::General, 6, 0); };
  if (!im.IsColor || im.PlaneCount < 3) {
    const float v = im.At(1, x, y);
    return text + (IsValidPixel(v) ? number(v) : LangTextOr(KeyTransparent, "Transparent"));
  }
  for (int p = 1; p <= 3; ++p) {
    const float v = im.At(p, x, y);
    text += IsValidPixel(v) ? number(v) : LangTextOr(KeyTransparentShort, "Tr. ");
    if (p < 3) text += ", ";
  }
  return text + (im.ColorModel == CmYuv ? " (YUV)" : " (RGB)");
}

int32_t PixelTextPanelWidth(int32_t textWidth, int32_t dpi) {
  const int64_t scaled = int64_t(textWidth) * 13 * dpi / 1056 + 16;
  return int32_t(std::clamp<int64_t>(scaled, 160, INT32_MAX));
}

bool PixelTextInNormalColour(int32_t zoom) { return zoom == 100 || zoom == 200 || zoom == 400; }

void EnsureRgbPair(int slot1, int slot2) {
  for (int s : {slot1, slot2})
    if (s >= 1 && SlotInUse(s) && Store.Image[size_t(s)].IsColor && Store.Image[size_t(s)].ColorModel == CmYuv)
      ToggleColorModel(s);
}

void MatchColourModel(int slot1, int slot2) {
  if (ColorModelsDiffer(slot1, slot2)) ToggleColorModel(slot2);
}

void ClampSelectionToImage(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return;
  ClampWorkRectToImage(slot);
}

TRectI GetSelectionRect() { return {WorkRect.x1, WorkRect.y1, WorkRect.x2, WorkRect.y2}; }

int FindOtherWindow(int slot) {
  int windows = 0;
  for (int s = 1; s <= MaxImageSlots; ++s)
    if (Store.HasWindow[size_t(s)]) ++windows;
  if (windows != 2) return -1;
  for (int s = 1; s <= MaxImageSlots; ++s)
    if (Store.HasWindow[size_t(s)] && s != slot) return s;
  return -1;
}

std::string CpuFeaturesText() {
  std::string text;
  if (HasMmx) text += "mmx ";
  if (HasSse) text += "sse ";
  if (HasSse2) text += "sse2 ";
  const int n = ProcessorCount;
  return text + " " + IntToStr(n) + "core" + (n == 1 ? " detected" : "s detected");
}

void FillPlane(int slot, int plane, float value) {
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return;
  auto& p = Store.Image[size_t(slot)].Planes[size_t(plane)];
  std::fill(p.begin(), p.end(), value);
}

float GetPixelOrZero(int slot, int plane, int x, int y) {
  if (slot < 0 || slot >= SlotArraySize || plane < 1 || plane > 3) return 0;
  const TImageSlot& im = Store.Image[size_t(slot)];
  if (x < 0 || y < 0 || x >= im.Width || y >= im.Height) return 0;
  const size_t i = size_t(y) * size_t(im.Width) + size_t(x);
  return i < im.Planes[size_t(plane)].size() ? im.Planes[size_t(plane)][i] : 0.0f;
}

}  // namespace astrelon
