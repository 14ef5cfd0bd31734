#include "pixelops/stamping/text_frame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "core/settings.h"
#include "kernels/regions/add_border.h"
#include "platform/parallel_bands.h"
#include "store/color_models.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

int32_t RoundI(double v) { return int32_t(std::nearbyint(v)); }

int32_t FrameDrawn(const TTextFrameInput& in) { return in.FrameOn ? std::max(in.FrameWidth, 0) : 0; }

}  // namespace

int32_t TextLeftIndent(const TTextFrameInput& in) {
  const int32_t h = std::abs(in.TextHeight);
  int32_t x = h / 2;
  if (in.HasTitle) x += in.TitleWidth + h;
  if (in.FrameOn) x -= in.FrameWidth;
  return x;
}

int32_t TextBlockWidth(const TTextFrameInput& in) {
  int32_t w = in.Width - TextLeftIndent(in) - std::abs(in.TextHeight) / 2;
  if (in.FrameOn) w += in.FrameWidth;
  return w;
}

int32_t TTextFrameLayout::LineY(int32_t i, int32_t n) const {
  return CentreY + i * LineHeight - RoundI(double(n) * LineHeight / 2);
}

TTextFrameLayout LayoutTextFrame(const TTextFrameInput& in) {
  TTextFrameLayout l;
  const int32_t B = std::max(in.Border, 0), F = FrameDrawn(in);
  l.B = B, l.F = F;
  const int32_t h = std::abs(in.TextHeight), ht = std::abs(in.TitleHeight);
  const int32_t n = std::max(in.LineCount, 0);
  l.LineHeight = RoundI(1.3 * h);
  int32_t T = n > 0 ? (n + 1) * l.LineHeight : 0;
  if (in.HasTitle) T = std::max(T, 2 * ht);
  l.TextBlock = T;
  l.ResultWidth = in.Width + 2 * B;
  const int32_t indent = TextLeftIndent(in);
  l.Fits = l.ResultWidth > indent + B + 10;
  l.ResultHeight = (F > B || T == 0) ? in.Height + 2 * B + T : in.Height + B + F + T;
  l.TextTop = F > B ? in.Height + 2 * B : in.Height + B + F;
  l.TextAreaHeight = std::max(l.ResultHeight - l.TextTop, 0);
  l.X0 = indent + B;
  l.XR = TextBlockWidth(in) + l.X0;
  if (in.Alignment == TTextAlignment::Centre) l.XR = (l.XR + l.X0) / 2;
  l.CentreY = T / 2 - 1;
  if (in.Transition) l.CentreY -= n < 1 ? ht / 8 : l.LineHeight / 8;
  l.TitleX = h / 2 + B - F;
  l.TitleY = l.CentreY - RoundI(ht * 2.0 / 3.0);
  return l;
}

bool ComposeTextFrame(int slot, const TTextFrameLayout& layout, const TTextFrameColours& colours, bool transition,
                      bool smooth, const TTextAreaBitmap& text) {
  if (!SlotInUse(slot)) return false;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int32_t B = layout.B, F = layout.F;
  const int32_t W = im.Width, H = im.Height;
  if (W + 2 * B != layout.ResultWidth || layout.ResultHeight < H + B || layout.TextTop > layout.ResultHeight) return false;
  const int32_t scale = smooth ? 4 : 1;
  if (text.Width < layout.ResultWidth * scale || text.Height < layout.TextAreaHeight * scale ||
      text.Bytes.size() < size_t(text.Width) * size_t(text.Height) * size_t(text.Channels))
    return false;

  const double black = Store.Display[size_t(slot)].Black, white = Store.Display[size_t(slot)].White;
  const double s = (white - black) / 255;
  // The planes are filled in RGB; the border fill is the display black.
  if (im.IsColor && im.ColorModel == CmYuv) YUVtoRGB(slot);
  if (!AddBorder(slot, B, layout.ResultHeight - H - B, B, B, float(black))) return false;

  const int planes = std::clamp(im.PlaneCount, 1, 3);
  const bool colour = im.IsColor && planes == 3;
  const int32_t M = std::max(F, B), m = std::min(F, B);
  const double k = m >= 6 ? std::min(1.0, 0.1 * (m - 6)) : 0.0;
  const int32_t e = B - F;
  const int32_t RW = layout.ResultWidth, R0 = layout.TextTop, RH = layout.ResultHeight;

  for (int p = 1; p <= planes; ++p) {
    const int byteIndex = colour ? p - 1 : 0;
    const double frameByte = (uint32_t(colours.Frame) >> (8 * byteIndex)) & 255;
    const double backByte = (uint32_t(colours.Background) >> (8 * byteIndex)) & 255;
    const float frameValue = float(frameByte * s + black), backValue = float(backByte * s + black);
    const int channel = text.Channels == 3 ? byteIndex : 0;
    float* plane = im.Planes[size_t(p)].data();

    // Border, frame and the picture's edge near the frame, for one pixel.
    const auto edgePixel = [&](int32_t x, int32_t y, float& v) {
      const int32_t dy = y < M ? B - y - 1 : y - H - B;
      const int32_t dx = x < M ? B - x - 1 : x - W - B;
      if (dy >= 0 || dx >= 0) {
        if (dy < F && dx < F) {
          if (!transition) {
            v = frameValue;
            return;
          }
          const double q = dy < 0 ? double(dx) * dx : (dx < 0 ? double(dy) * dy : double(dx) * dx + double(dy) * dy);
          const double d = std::clamp(std::sqrt(q) / (m + 0.001), 0.0, 1.0);
          const double d2 = k * std::sin(std::numbers::pi * d / 2) + (1 - k) * d;
          v = float(((1 - d2) * frameByte + d2 * backByte) * s + black);
        } else {
          v = backValue;
        }
      } else if (transition && (dy >= e || dx >= e)) {
        const double a = double(dx) - e, b = double(dy) - e;
        const double q = dy < e ? a * a : (dx < e ? b * b : a * a + b * b);
        const double d = std::clamp(std::sqrt(q) / (0.001 - e), 0.0, 1.0);
        const double old = v > -1e9f ? double(v) : black;
        v = float((1 - d) * old + d * frameValue);
      }
    };

    // Columns that can change in a row of the picture: the left band and the right band.
    const int32_t leftEnd = std::min(RW, M);
    const int32_t rightStart = std::max(leftEnd, W + B + std::min(0, e));
    const int threads = BandThreads(RH, 256, Options.Multicore != 0);
    ForEachBand(RH, threads, [&](int64_t first, int64_t last) {
      for (int32_t y = int32_t(first); y < int32_t(last); ++y) {
        float* row = plane + size_t(y) * size_t(RW);
        if (y >= R0) {
          const int32_t ty = y - R0;
          for (int32_t x = 0; x < RW; ++x) {
            if (smooth) {
              int sum = 0;
              for (int32_t j = 0; j < 4; ++j)
                for (int32_t i = 0; i < 4; ++i) sum += text.At(4 * x + i, 4 * ty + j, channel);
              if (sum > 0) row[x] = float(sum / 16.0 * s + black);
            } else if (const uint8_t v = text.At(x, ty, channel); v != 0) {
              row[x] = float(v * s + black);
            }
          }
          continue;
        }
        const int32_t dy = y < M ? B - y - 1 : y - H - B;
        const bool wholeRow = dy >= 0 || (transition && dy >= e);
        if (wholeRow) {
          for (int32_t x = 0; x < RW; ++x) edgePixel(x, y, row[x]);
        } else {
          for (int32_t x = 0; x < leftEnd; ++x) edgePixel(x, y, row[x]);
          for (int32_t x = rightStart; x < RW; ++x) edgePixel(x, y, row[x]);
        }
      }
    });
  }
  im.DataChanged = 1;
  return true;
}

}  // namespace astrelon
