#include "pixelops/colour/it8_chart.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "common/number_text.h"
#include "common/paths.h"
#include "common/text_codec.h"
#include "shell/slots/fresh_image.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int32_t Cell = 40;
constexpr size_t MaxChartFileBytes = size_t(16) << 20;

std::string Trimmed(std::string_view s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string_view::npos) return {};
  return std::string(s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1));
}

// Characters first .. last (1-based) of the line; nullopt when it is shorter.
std::optional<std::string> Columns(std::string_view line, size_t first, size_t last) {
  if (Utf8Length(line) < last) return std::nullopt;
  return Utf8Substr(line, first - 1, last - first + 1);
}

std::optional<double> NumberIn(std::string_view line, size_t first, size_t last) {
  const auto text = Columns(line, first, last);
  if (!text) return std::nullopt;
  const auto v = TryStrToFloatDot(*text);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

std::optional<int32_t> IntegerIn(std::string_view line, size_t first, size_t last) {
  const auto text = Columns(line, first, last);
  if (!text) return std::nullopt;
  const std::string t = Trimmed(*text);
  int32_t v = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || error != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return v;
}

double SrgbTransfer(double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

}  // namespace

void XyzToSrgb255(double x, double y, double z, float& r, float& g, float& b) {
  const auto channel = [](double v) { return float(SrgbTransfer(v < 0 ? 0 : v) * 255); };
  r = channel(3.240479 * x - 1.53715 * y - 0.498535 * z);
  g = channel(-0.969256 * x + 1.875992 * y + 0.041556 * z);
  b = channel(0.055648 * x - 0.204043 * y + 1.057311 * z);
}

std::optional<TIt8Patch> It8PatchOfLine(std::string_view line, int illuminant) {
  TIt8Patch patch;
  const bool grey = line.substr(0, 2) == "GS";
  const auto number = grey ? IntegerIn(line, 3, 4) : IntegerIn(line, 2, 3);
  const auto X = NumberIn(line, 12, 17), Y = NumberIn(line, 20, 25), Z = NumberIn(line, 28, 33);
  if (!number || !X || !Y || !Z || *number < -1 || *number >= It8ChartWidth / Cell) return std::nullopt;
  patch.X = (*number + 1) * Cell;
  if (grey) {
    patch.Y = 14 * Cell;
    patch.Height = Cell + 30;
  } else {
    const char row = line[0];
    if (row < 'A' || row > 'L') return std::nullopt;
    patch.Y = (row - 64) * Cell;
  }
  if (patch.X + patch.Width > It8ChartWidth || patch.Y + patch.Height > It8ChartHeight) return std::nullopt;
  double x = *X * 0.01, y = *Y * 0.01, z = *Z * 0.01;
  if (illuminant == 50) {
    x = x * 95.047 / 96.422;
    z = z * 108.883 / 82.521;
  }
  XyzToSrgb255(x, y, z, patch.R, patch.G, patch.B);
  return patch;
}

TIt8Import ImportIt8Chart(int slot, const std::string& fileName, int illuminant) {
  const std::optional<std::string> text = ReadTextFile(fileName, MaxChartFileBytes);
  if (!text) return TIt8Import::Unreadable;
  const std::vector<std::string> lines = SplitLines(*text);
  // A byte-order mark is gone after decoding.
  if (lines.empty() || lines[0].rfind("IT8", 0) != 0) return TIt8Import::NotIt8;
  if (!MakeFreshImage(slot, It8ChartWidth, It8ChartHeight, 3, BlankPixel)) return TIt8Import::NoSlot;
  TImageSlot& im = Store.Image[size_t(slot)];
  Store.FileName[size_t(slot)] = ChangeFileExt(fileName, ".fit");

  size_t i = 0;
  while (i < lines.size() && Trimmed(lines[i]) != "BEGIN_DATA") ++i;
  for (++i; i < lines.size() && Trimmed(lines[i]) != "END_DATA"; ++i) {
    const auto patch = It8PatchOfLine(lines[i], illuminant);
    if (!patch) continue;
    const float values[3] = {patch->R, patch->G, patch->B};
    for (int p = 1; p <= 3; ++p)
      for (int32_t y = patch->Y; y < patch->Y + patch->Height; ++y) {
        float* row = im.Planes[size_t(p)].data() + size_t(y) * size_t(It8ChartWidth);
        std::fill(row + patch->X, row + patch->X + patch->Width, values[p - 1]);
      }
  }
  MakeDefaultHeader(slot);
  Store.Display[size_t(slot)].DisplayType = DtColorRgb;
  ResetDisplayRange(slot, 255.0f);
  ComputeHistogram(slot, false, false);
  return TIt8Import::Done;
}

}  // namespace astrelon
