#include "filters/network/upscale_x2_network.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "filters/enlargement/enlargement_memory.h"
#include "filters/network/network_inputs.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/two_times_network_file.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

void EnlargeNetworkRow(const TImageSlot& src, TImageSlot& dst, int p, int32_t y, double scale, TNetworkPass& pass) {
  const TNetworkWeights& net = Network;
  const int32_t N = net.InputTop;
  const bool clip = net.TypeCode <= 10;
  const bool useBias = net.TypeCode > 10;
  const float lowest = src.MinValue;
  const int32_t w = src.Width;
  const size_t w2 = size_t(dst.Width);
  const float* in = src.Planes[size_t(p)].data() + size_t(y) * size_t(w);
  float* top = dst.Planes[size_t(p)].data() + size_t(2 * y) * w2;
  float* bottom = top + w2;
  for (int32_t x = 0; x < w; ++x) {
    const float c = in[x];
    std::array<float, 4> out{lowest, lowest, lowest, lowest};
    if (IsValidPixel(c) && !(scale > 0)) {
      out.fill(std::max(c, lowest));
    } else if (IsValidPixel(c)) {
      EvalNetworkAt(src, p, x, y, N, c, scale, clip, 0.0f, pass);
      ForwardNetwork(net, pass, N, net.Current, true, useBias);
      for (size_t k = 0; k < 4; ++k) out[k] = std::max(float(c + double(pass.Y[k]) * scale), lowest);
    }
    top[2 * x] = out[0];
    top[2 * x + 1] = out[1];
    bottom[2 * x] = out[2];
    bottom[2 * x + 1] = out[3];
  }
}

bool UpscaleX2Network(int source, int destination, const std::string& fileName, const TNetworkRowPoll& poll) {
  if (!SlotInUse(source) || !SlotInUse(destination) || source == destination) return false;
  RequireX2EnlargementMemory(source, 0);
  int32_t n = 0, current = 0, inputTop = 0;
  if (!LoadEnlargementNetworkFile(fileName, n, current, inputTop)) return false;
  AbortRequested = 0;
  const TImageSlot& src = Store.Image[size_t(source)];
  TImageSlot& dst = Store.Image[size_t(destination)];
  const int32_t w = src.Width, h = src.Height;
  // The new planes are made before the destination changes, so that a lack of
  // memory leaves it as it was.
  std::array<TPlane, 4> planes;
  for (int p = 1; p <= src.PlaneCount; ++p) planes[size_t(p)].resize(size_t(4) * src.PixelCount());
  dst.Planes = std::move(planes);
  dst.Width = 2 * w;
  dst.Height = 2 * h;
  dst.PlaneCount = src.PlaneCount;
  SetNaxisCards(destination);

  const double range = double(src.MaxValue) - double(src.MinValue);
  const double scale = std::isfinite(range) && range > 0 ? range / 2 : 0.0;
  const int threads = NetworkRowThreads(h, w);
  for (int p = 1; p <= src.PlaneCount; ++p) {
    const bool done = RunNetworkRows(
        h, threads, [&](int64_t y, TNetworkPass& pass) { EnlargeNetworkRow(src, dst, p, int32_t(y), scale, pass); },
        [&](int64_t rows) { return !AbortRequested && (!poll || poll(p, rows)); });
    if (!done || AbortRequested) return false;
  }
  return true;
}

}  // namespace astrelon
