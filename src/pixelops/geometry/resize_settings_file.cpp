#include "pixelops/geometry/resize_settings_file.h"

#include "common/atomic_file.h"
#include "common/number_text.h"
#include "common/pascal_format.h"
#include "common/text_codec.h"
#include "shell/main/main_services.h"

namespace astrelon {

namespace {

constexpr size_t ResizeFileLines = 5;
constexpr size_t ResizeLineLimit = 1000;

}  // namespace

void ApplyResizeLines(const std::vector<std::string>& lines, TResizeSettings& s) {
  const size_t n = lines.size();
  auto line = [&](size_t i) { return i < n ? lines[i] : std::string(); };
  const std::string first = line(0);
  if (Utf8Length(first) > 3 && first[0] == 'V') {
    s.PixelTab = Utf8Substr(first, 3, 1) != "G";
    s.Horizontal = Utf8Substr(first, 4);
  } else {
    s.PixelTab = false;
    s.Horizontal = first;
  }
  s.Vertical = line(1);
  size_t next = 2;
  if (n > next) {
    next = 3;
    if (const auto kind = TryStrToInt(lines[2])) {
      if (*kind >= 0 && *kind <= 4) s.Kind = int32_t(*kind);
      s.AntiMoire = line(3) == "AMF";
      next = 4;
    }
  }
  s.Box = n > next && lines[next] == "BOX";
}

bool ReadResizeSettings(const std::string& fileName, TResizeSettings& s) {
  const std::optional<std::vector<std::string>> lines = ReadFirstLines(fileName, ResizeFileLines, ResizeLineLimit);
  if (!lines) return false;
  ApplyResizeLines(*lines, s);
  return true;
}

std::string ResizeSettingsText(const TResizeSettings& s) {
  return (s.PixelTab ? "V4 P" : "V4 G") + s.Horizontal + "\n" + s.Vertical + "\n" + IntToStr(s.Kind) + "\n" +
         (s.AntiMoire ? "AMF" : "noAMF") + "\n" + (s.Box ? "BOX" : "noBOX") + "\n";
}

bool WriteResizeSettings(const std::string& fileName, const TResizeSettings& s, std::string* error) {
  return WriteFileAtomic(fileName, ResizeSettingsText(s), error);
}

std::optional<TResizeRequest> ResizeRequest(const TResizeSettings& s) {
  if (s.Horizontal.empty() || s.Vertical.empty()) return std::nullopt;
  TResizeRequest r;
  r.Kind = s.Kind;
  r.AntiMoire = s.AntiMoire;
  r.Box = s.Box;
  if (s.PixelTab) {
    // The second entry is read only when the first one passes.
    r.NewWidth = StrToIntTrim(s.Horizontal);
    if (r.NewWidth <= 0) return std::nullopt;
    r.NewHeight = StrToIntTrim(s.Vertical);
    if (r.NewHeight <= 0) return std::nullopt;
    r.SizesGiven = true;
  } else {
    r.RatioX = StrToFloatDot(s.Horizontal);
    if (!(r.RatioX > 0)) return std::nullopt;
    r.RatioY = StrToFloatDot(s.Vertical);
    if (!(r.RatioY > 0)) return std::nullopt;
  }
  return r;
}

}  // namespace astrelon
