#include "filters/network/network_filter_blocks.h"

#include <algorithm>

#include "filters/network/network_inputs.h"
#include "kernels/network/network_forward.h"

namespace astrelon {

TNetworkFilterKind NetworkFilterKind(int32_t type) {
  if (type == 6 || type == 16) return TNetworkFilterKind::Mean;
  if (type == 7 || type == 17) return TNetworkFilterKind::ThreeInput;
  return TNetworkFilterKind::Blocks;
}

double NetworkFilterBase(const TNetworkFilterPlane& f, int32_t x, int32_t y, const TBlockOffsets& block) {
  const TImageSlot& im = *f.Source;
  const TNetworkFilterKind kind = NetworkFilterKind(f.Type);
  if (kind == TNetworkFilterKind::ThreeInput) return f.Mid;
  auto value = [&](int32_t px, int32_t py, double otherwise) {
    if (px < 0 || py < 0 || px >= im.Width || py >= im.Height) return otherwise;
    const float v = im.At(f.Plane, px, py);
    return IsValidPixel(v) ? double(v) : otherwise;
  };
  const double v = value(x, y, f.Mid);
  if (f.Type == 1 || f.Type == 6 || f.Type == 16) return 0.9 * v + 0.1 * f.Mid;
  double sum = 0;
  for (const TInputOffset& o : block) sum += value(x + o.Dx, y + o.Dy, v);
  return 0.1 * f.Mid + 0.225 * sum;
}

void PredictNetworkRow(const TNetworkFilterPlane& f, int32_t y, std::span<float> out, TNetworkPass& pass) {
  const TImageSlot& im = *f.Source;
  const TNetworkFilterKind kind = NetworkFilterKind(f.Type);
  const double s = f.Scale;
  for (int32_t x = f.X1; x <= f.X2; ++x) {
    const double base = NetworkFilterBase(f, x, y);
    EvalNetworkAt(im, f.Plane, x, y, f.InputTop, base, s, false, 0.0f, pass);
    ForwardNetwork(Network, pass, f.InputTop, f.Current, (f.Type < 3), (f.Type > 2));
    const std::array<float, 4>& o = pass.Y;
    float* to = out.data() + size_t(x - f.X1) * 4;
    switch (kind) {
      case TNetworkFilterKind::Blocks:
        for (size_t k = 0; k < 4; ++k) to[k] = float(o[k] * s + base);
        break;
      case TNetworkFilterKind::Mean:
        to[0] = float((double(o[0]) + o[1] + o[2] + o[3]) / 4 * s + base);
        break;
      case TNetworkFilterKind::ThreeInput:
        to[0] = float(o[0] * s + base);
        to[1] = float((double(o[1]) + o[2]) / 2 * s + base);
        to[2] = float(o[3] * s + base);
        break;
    }
  }
}

namespace {

// old * keep + value * (1 - keep) (the blend the block order gives); a blank
// old value takes the new one.
float Blend(float old, double keep, float value, double share) {
  return IsValidPixel(old) ? float(keep * old + share * value) : value;
}

}  // namespace

void WriteNetworkRow(const TNetworkFilterPlane& f, int32_t py, std::span<const float> above,
                     std::span<const float> current, int plane, std::span<float> row) {
  const TNetworkFilterKind kind = NetworkFilterKind(f.Type);
  const float floor = f.Floor;
  auto raised = [floor](float v) { return v < floor ? floor : v; };
  if (kind != TNetworkFilterKind::Blocks) {
    const size_t k = kind == TNetworkFilterKind::Mean ? 0 : f.Source->PlaneCount >= 3 ? size_t(plane - 1) : 1;
    for (int32_t x = f.X1; x <= f.X2; ++x) row[size_t(x)] = raised(current[size_t(x - f.X1) * 4 + k]);
    return;
  }
  const int32_t w = f.Source->Width;
  auto block = [&](std::span<const float> r, int32_t bx, size_t k) -> const float* {
    if (r.empty() || bx < f.X1 || bx > f.X2) return nullptr;
    return r.data() + size_t(bx - f.X1) * 4 + k;
  };
  for (int32_t px = f.X1; px <= std::min(f.X2 + 1, w - 1); ++px) {
    float v = row[size_t(px)];
    // Block (px - 1, py - 1): this is its lower right pixel.
    if (const float* o = block(above, px - 1, 3)) v = raised(*o);
    // Block (px, py - 1): its lower left pixel.
    if (const float* o = block(above, px, 2)) v = raised(px == 0 ? *o : Blend(v, 0.5, *o, 0.5));
    // Block (px - 1, py): its upper right pixel.
    if (const float* o = block(current, px - 1, 1)) v = raised(py == 0 ? *o : Blend(v, 0.667, *o, 0.333));
    // Block (px, py): its upper left pixel.
    if (const float* o = block(current, px, 0)) {
      if (px == 0 && py == 0)
        v = raised(*o);
      else if (px == 0 || py == 0)
        v = raised(Blend(v, 0.5, *o, 0.5));
      else
        v = raised(Blend(v, 0.75, *o, 0.25));
    }
    row[size_t(px)] = v;
  }
}

}  // namespace astrelon
