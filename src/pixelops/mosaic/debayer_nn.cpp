#include "pixelops/mosaic/debayer_nn.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/engine_ui.h"
#include "kernels/mosaic/mosaic_kernels.h"
#include "kernels/network/debayer_window.h"
#include "kernels/network/network_file.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"
#include "pixelops/mosaic/mosaic_interpolation.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr auto& WindowInput = DebayerWindowInput;
constexpr int32_t InputCount = DebayerInputCount;

// A row's window: for each input its offset in the plane and its colour (0 red,
// 1 green, 2 blue), the same for every site of the row.
struct TWindow {
  std::array<ptrdiff_t, InputCount> Offset{};
  std::array<int32_t, InputCount> Colour{};
  std::array<float, 3> Count{};
};

TWindow RowWindow(int32_t x, int32_t y, ptrdiff_t width) {
  TWindow w;
  for (int32_t dy = -3; dy <= 3; ++dy)
    for (int32_t dx = -3; dx <= 3; ++dx) {
      const int32_t input = WindowInput[size_t(dy + 3)][size_t(dx + 3)];
      if (input < 0) continue;
      const int32_t colour = std::clamp<int32_t>(MosaicCellColor(MosaicPattern, x + dx, y + dy), 0, 2);
      w.Offset[size_t(input)] = dy * width + dx;
      w.Colour[size_t(input)] = colour;
      w.Count[size_t(colour)] += 1;
    }
  return w;
}

// The other colour's green-difference at the green pixel above a site: the two
// middle ones of four colour differences.
float MiddleDifference(std::array<float, 4> d) {
  std::sort(d.begin(), d.end());
  return (d[1] + d[2]) / 2;
}

// Sets the debayer mode for the run and clears it on every exit.
struct TDebayerMode {
  TDebayerMode() { NetworkDebayerMode = true; }
  ~TDebayerMode() { NetworkDebayerMode = false; }
  TDebayerMode(const TDebayerMode&) = delete;
  TDebayerMode& operator=(const TDebayerMode&) = delete;
};

// Clears the progress panel at the end, also after an exception.
struct TStatusClear {
  ~TStatusClear() { EngineUi().ShowStatus(""); }
};

void DebayerRows(const TImageSlot& src, TImageSlot& dst, float half) {
  const int32_t w = dst.Width, h = dst.Height;
  const ptrdiff_t W = w;
  const float* m = src.Planes[1].data();
  float* planes[3] = {dst.Planes[1].data(), dst.Planes[2].data(), dst.Planes[3].data()};
  float* g = planes[1];
  const int32_t current = Network.Current;
  const bool pairs = Network.TypeCode == 1;
  TNetworkPass pass;
  const std::array<float, 4>& out = pass.Y;
  for (int32_t y = 3; y <= h - 4; ++y) {
    const int32_t x0 = MosaicCellColor(MosaicPattern, 1, y) == McGreen ? 4 : 3;
    const int32_t own = std::clamp<int32_t>(MosaicCellColor(MosaicPattern, x0, y), 0, 2);
    const int32_t other = 2 - own;
    const TWindow win = RowWindow(x0, y, W);
    for (int32_t x = x0; x <= w - 4; x += 2) {
      const ptrdiff_t i = ptrdiff_t(y) * W + x;
      std::array<float, 3> mean{};
      for (int32_t k = 0; k < InputCount; ++k) mean[size_t(win.Colour[size_t(k)])] += m[i + win.Offset[size_t(k)]];
      for (size_t c = 0; c < 3; ++c) mean[c] = win.Count[c] > 0 ? mean[c] / win.Count[c] : 0.0f;
      for (int32_t k = 0; k < InputCount; ++k)
        pass.X[size_t(k)] = (m[i + win.Offset[size_t(k)]] - mean[size_t(win.Colour[size_t(k)])]) / half;
      ForwardNetwork(Network, pass, InputCount - 1, current, false, true);
      if (pairs) {
        g[i] = (out[0] + out[1]) / 2 * half + mean[1];
        planes[other][i] = (out[2] + out[3]) / 2 * half + mean[size_t(other)];
        // The green pixel above gets red and blue from its neighbours' colour
        // differences.
        const ptrdiff_t above = i - W;
        for (const int32_t c : {0, 2}) {
          const float* p = planes[c];
          const std::array<ptrdiff_t, 4> nb{i, above + 1, above - 1, i - 2 * W};
          std::array<float, 4> d{};
          for (size_t k = 0; k < 4; ++k) d[k] = p[nb[k]] - g[nb[k]];
          planes[c][above] = g[above] + MiddleDifference(d);
        }
      } else {
        g[i] = out[0] * half + mean[1];
        float* p = planes[own];
        p[i + 1] = out[1] * half + mean[size_t(own)];
        p[i + W] = out[2] * half + mean[size_t(own)];
        p[i + W + 1] = out[3] * half + mean[size_t(own)];
      }
    }
    EngineUi().ShowStatus(" NN debayer " + std::to_string((y - 2) * 100 / std::max(h - 6, 1)) + "%");
    EngineUi().ProcessMessages();
    if (AbortRequested.load() != 0) return;
  }
}

}  // namespace

namespace {

bool NetworkFileNamed(const std::string& name) {
  return name.find_first_not_of(" \t") != std::string::npos;
}

bool DebayerSizesFit(int source, int destination) {
  if (!SlotInUse(source) || !SlotInUse(destination)) return false;
  const TImageSlot& src = Store.Image[size_t(source)];
  const TImageSlot& dst = Store.Image[size_t(destination)];
  return src.Width == dst.Width && src.Height == dst.Height && dst.Width >= 8 && dst.Height >= 8 && dst.PlaneCount >= 3;
}

}  // namespace

bool DebayerNN(int source, int destination, const std::string& networkFile) {
  if (!DebayerSizesFit(source, destination)) return false;
  const TDebayerMode mode;
  int32_t n = 0, current = 0, inputTop = 0;
  if (!LoadNetworkFile(networkFile, n, current, inputTop)) return false;
  return DebayerNNLoaded(source, destination);
}

bool DebayerNNLoaded(int source, int destination) {
  if (!DebayerSizesFit(source, destination)) return false;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const TDebayerMode mode;
  BuildTanhTable();
  float lo = 0, hi = 0;
  bool any = false;
  for (const float v : src.Planes[1]) {
    if (!(v > -1e9f)) continue;
    lo = any ? std::min(lo, v) : v;
    hi = any ? std::max(hi, v) : v;
    any = true;
  }
  const float half = (hi - lo) / 2;
  if (!(half > 0) || !std::isfinite(half)) return false;  // a constant mosaic keeps the border pass
  const TStatusClear clear;
  try {
    DebayerRows(src, dst, half);
  } catch (const std::exception&) {
    // The pixels done so far stay.
  }
  return true;
}

bool InterpolateMosaicByNetwork(const TMosaicStage& stage) {
  if (!SlotInUse(stage.Source) || !SlotInUse(stage.Destination)) return false;
  const TImageSlot& dst = Store.Image[size_t(stage.Destination)];
  if (dst.Width <= 8 || dst.Height <= 8) return false;
  // Without its network the method has nothing to compute: no result rather
  // than the raw mosaic under the method's name.
  if (!NetworkFileNamed(stage.NetworkFile)) {
    EngineUi().ShowMessage("Es ist kein Debayer-NN gewählt!");
    return false;
  }
  int32_t n = 0, current = 0, inputTop = 0;
  const TDebayerMode mode;
  if (!LoadNetworkFile(stage.NetworkFile, n, current, inputTop)) return false;
  InterpolateMosaicBorder(stage.Destination, MosaicBorderMargin(DmNetwork));
  DebayerNNLoaded(stage.Source, stage.Destination);  // a constant mosaic keeps the border pass
  return true;
}

}  // namespace astrelon
