#include "frequency/spectra/relief_view.h"

#include <algorithm>
#include <cmath>

#include "store/image_store.h"

namespace astrelon {

namespace {

// b of a value, kept within ±2^30 so that it converts.
int32_t DisplayLevel(float v, double black, double span) {
  return int32_t(std::nearbyint(std::clamp((double(v) - black) * 255.0 / span, -1073741824.0, 1073741824.0)));
}

class TCanvas {
public:
  TCanvas(int32_t w, int32_t h, int channels) : w_(w), h_(h), c_(channels) {
    picture.Format = {w, h, channels, 8, false};
    picture.Samples8.assign(size_t(w) * size_t(h) * size_t(channels), 255);
  }
  // `length` pixels up from (x, y0); nothing for a length below 1.
  void Stroke(int64_t x, int64_t y0, int64_t length, const uint8_t* colour) {
    if (x < 0 || x >= w_ || length < 1) return;
    for (int64_t y = std::min<int64_t>(y0, h_ - 1); y > y0 - length && y >= 0; --y) {
      uint8_t* px = picture.Samples8.data() + (size_t(y) * size_t(w_) + size_t(x)) * size_t(c_);
      std::copy_n(colour, c_, px);
    }
  }
  TPicture picture;

private:
  int32_t w_, h_;
  int c_;
};

}  // namespace

TPicture RenderRelief(int slot) {
  if (!SlotInUse(slot)) return {};
  const TImageSlot& im = Store.Image[slot];
  const int32_t W = im.Width, H = im.Height;
  if (W < 1 || H < 1) return {};
  const bool rgb = im.IsColor && im.PlaneCount == 3 && im.ColorModel == CmRgb;
  const int channels = rgb ? 3 : 1;
  for (int p = 1; p <= channels; ++p)
    if (im.Planes[p].size() < im.PixelCount()) return {};
  TCanvas canvas(W + H / 4 + 4, H / 2 + 160, channels);
  const TDisplayRecord& d = Store.Display[slot];
  const double black = d.Black, span = 0.1 + double(d.White) - double(d.Black);
  for (int32_t y = 0; y + 1 < H; ++y) {
    const double s = 0.15 * y / W + 1.0 - 0.15 * H / W;
    const double o = H / 4 + 0.075 * H - 0.25 * y;
    for (int32_t c = 0; c + 1 < W; ++c) {
      const int64_t x = int64_t(std::nearbyint((c + 2) * s + o));
      bool blank = false;
      int32_t level[3];
      uint8_t colour[3];
      for (int p = 0; p < channels; ++p) {
        const float v = im.At(p + 1, c, y);
        blank = blank || !IsValidPixel(v);
        level[p] = DisplayLevel(v, black, span);
        colour[p] = uint8_t(std::clamp(level[p], 0, 255));
      }
      const int32_t b = rgb ? int32_t(std::nearbyint(0.299 * level[0] + 0.587 * level[1] + 0.114 * level[2])) : level[0];
      const bool rowWall = y == H - 2, columnWall = c == W - 2;
      if (rowWall || columnWall) {
        const uint8_t grey = rowWall ? 64 : 48;
        const uint8_t wall[3] = {grey, grey, grey};
        const int64_t length = blank ? 21 : (b >= 256 ? 53 : b / 8 + 21);
        canvas.Stroke(x, y / 2 + 120, length, wall);
      } else if (!blank) {
        canvas.Stroke(x, y / 2 + 100, b >= 256 ? 33 : b / 8 + 1, colour);
      }
    }
  }
  return std::move(canvas.picture);
}

}  // namespace astrelon
