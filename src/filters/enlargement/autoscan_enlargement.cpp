#include "filters/enlargement/autoscan_enlargement.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "filters/enlargement/enlargement_memory.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/network/network_forward.h"
#include "kernels/network/network_training.h"
#include "kernels/network/neural_tables.h"
#include "kernels/sampling/resample_image.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr int32_t StartCountdown = 4000;
constexpr int32_t ScanCountdown = 90;  // the countdown from the scan on
constexpr int32_t Inset = 4;           // drawn positions keep this far from the border
constexpr int32_t WindowCentre = 2;    // the window's centre from its top-left corner

// The 21 positions of the 5 x 5 window without its corners, in reading order.
constexpr int32_t WindowDx[21] = {1, 2, 3, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 1, 2, 3};
constexpr int32_t WindowDy[21] = {0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 4, 4, 4};

// A whole number in lo..hi (both included) from the generator.
int32_t Draw(std::mt19937_64& rng, int32_t lo, int32_t hi) {
  if (hi <= lo) return lo;
  const double u = double(rng() >> 11) * 0x1p-53;  // [0, 1)
  return std::min(hi, lo + int32_t(u * double(int64_t(hi) - lo + 1)));
}

// p reflected into lo..hi (a range too narrow gives its middle, clamped into
// 0..size - 1).
int32_t Mirror(int32_t p, int32_t lo, int32_t hi, int32_t size) {
  if (hi < lo) return std::clamp((lo + hi) / 2, 0, std::max(size - 1, 0));
  for (int k = 0; k < 4 && (p < lo || p > hi); ++k) p = p < lo ? 2 * lo - p : 2 * hi - p;
  return std::clamp(p, lo, hi);
}

// The new network: 21 inputs, neurons 0..n, no second layer, weights uniform
// in [-1, 1).
void StartNetwork(int32_t n, std::mt19937_64& rng) {
  BuildTanhTable();
  TNetworkWeights& net = Network;
  net = TNetworkWeights{};
  net.TypeCode = 13;
  net.InputTop = 20;
  net.RowWidth = 37;
  net.Size(n);
  net.Current = n;
  net.Phase = 1;
  auto next = [&] { return float(double(rng() >> 11) * 0x1p-53 * 2.0 - 1.0); };
  for (int32_t j = 0; j <= n; ++j)
    for (int32_t i = 0; i <= 20; ++i) net.W1At(j, i) = next();
  for (int32_t j = 0; j <= n; ++j)
    for (int32_t o = 0; o < 4; ++o) net.W2At(j, o) = next();
}

struct TSpiral {
  int32_t X = 0, Y = 0;
  int32_t Dx = 1, Dy = 0;  // heading
  int32_t Left = 0, Right = 0, Top = 0, Bottom = 0;
  int32_t Pass = 0;  // 0..4

  bool Closed() const { return Bottom < Top || Right < Left; }
  // The pixel of this pass: offset by Pass - 2 across the heading.
  int32_t PixelX() const { return X + (Dx == 0 ? Pass - 2 : 0); }
  int32_t PixelY() const { return Y + (Dy == 0 ? Pass - 2 : 0); }
  // Next pass; after pass 4 one step on, with the turns at the borders. True
  // after a turn.
  bool Advance() {
    if (++Pass <= 4) return false;
    Pass = 0;
    X += Dx;
    Y += Dy;
    if (Dx == 1 && X > Right) {
      Dx = 0, Dy = -1, X -= 3, Y -= 3, Bottom -= 5;
    } else if (Dy == -1 && Y < Top) {
      Dx = -1, Dy = 0, X -= 3, Y += 3, Right -= 5;
    } else if (Dx == -1 && X < Left) {
      Dx = 0, Dy = 1, X += 3, Y += 3, Top += 5;
    } else if (Dy == 1 && Y > Bottom) {
      Dx = 1, Dy = 0, X += 3, Y -= 3, Left += 5;
    } else {
      return false;
    }
    return true;
  }
};

// One training sample: the window of the half-size image centred on half
// pixel (hx, hy) and, as target, the 2 x 2 block of the work image that this
// half pixel was made from. The scan writes the block of a work pixel from the
// window centred on that pixel, so both pair a window with the block of its
// centre, where the network's bilinear base places its outputs.
void TrainOn(TAutoscanImages& im, int32_t hx, int32_t hy) {
  im.Spread = 0;
  AutoscanInputs(im.Half, hx - WindowCentre, hy - WindowCentre, im);
  AutoscanTrainStep(2 * hx, 2 * hy, im);
}

// The half pixels of the initial training along a side of `size`: `Inset`
// from either end, or the last one of a side too short for that.
int32_t FirstTrained(int32_t size) { return std::min(Inset, size - 1); }
int32_t LastTrained(int32_t size) { return std::max(size - 1 - Inset, FirstTrained(size)); }

// The summed squared errors on the training pairs, of the network as it is
// when the scan passes them and of its bilinear base.
struct TPairErrors {
  double Network = 0, Base = 0;

  // The pair of half pixel (hx, hy), when the initial training draws it: the
  // window centred there and the 2 x 2 block of the work image it was made
  // from, both predictions clamped into the work image's range as the scan
  // writes them.
  void Add(TAutoscanImages& im, int32_t hx, int32_t hy) {
    const TGreyImage& half = im.Half;
    if (hx < FirstTrained(half.Width) || hx > LastTrained(half.Width) || hy < FirstTrained(half.Height) ||
        hy > LastTrained(half.Height))
      return;
    const double spread = im.Spread;  // the accumulator serves the training's draws alone
    AutoscanInputs(half, hx - WindowCentre, hy - WindowCentre, im);
    im.Spread = spread;
    const std::array<float, 4> base = NetworkBase21(NetworkPass.X.data());
    ForwardNetwork21(im.Neurons);
    for (int k = 0; k < 4; ++k) {
      const float v = im.Work.At(2 * hx + k % 2, 2 * hy + k / 2);
      if (!IsValidPixel(v)) continue;
      const double n = std::clamp(NetworkPass.Y[size_t(k)] * im.S + im.Mid, im.Low, im.High) - double(v);
      const double b = std::clamp(base[size_t(k)] * im.S + im.Mid, im.Low, im.High) - double(v);
      Network += n * n;
      Base += b * b;
    }
  }
};

// Positions of the initial training: anywhere in the half-size image inside
// its border, drawn until the windows met add up to enough spread.
void TrainAtRandom(TAutoscanImages& im, std::mt19937_64& rng) {
  const TGreyImage& half = im.Half;
  int32_t hx = 0, hy = 0;
  do {
    hx = Draw(rng, FirstTrained(half.Width), LastTrained(half.Width));
    hy = Draw(rng, FirstTrained(half.Height), LastTrained(half.Height));
    AutoscanInputs(half, hx - WindowCentre, hy - WindowCentre, im);
  } while (!(im.Spread > im.S));
  TrainOn(im, hx, hy);
}

// A training position within the scan box behind the spiral point: up to b
// pixels back along the heading and b/2 to either side, reflected into the
// work image at least `Inset` from its border; the half pixel that holds it.
void TrainNearPoint(TAutoscanImages& im, const TSpiral& sp, int32_t box, std::mt19937_64& rng) {
  const int32_t w = im.Work.Width, h = im.Work.Height;
  int32_t hx = 0, hy = 0;
  do {
    const int32_t back = Draw(rng, 0, box - 1), side = Draw(rng, -box / 2, box - 1 - box / 2);
    const int32_t px = Mirror(sp.X - sp.Dx * back + (sp.Dx == 0 ? side : 0), Inset, w - 1 - Inset, w);
    const int32_t py = Mirror(sp.Y - sp.Dy * back + (sp.Dy == 0 ? side : 0), Inset, h - 1 - Inset, h);
    hx = std::min(px / 2, im.Half.Width - 1);
    hy = std::min(py / 2, im.Half.Height - 1);
    AutoscanInputs(im.Half, hx - WindowCentre, hy - WindowCentre, im);
  } while (!(im.Spread > im.S));
  TrainOn(im, hx, hy);
}

// Low, High, Mid and S from the work image's valid pixels; false when it has none.
bool SetWorkRange(TAutoscanImages& im) {
  float lo = NoMinimum, hi = -NoMinimum;
  for (float v : im.Work.Values)
    if (IsValidPixel(v)) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  im.Low = lo;
  im.High = hi;
  im.Mid = float((double(hi) + lo) / 2);
  im.S = float((double(hi) - lo) / 2);
  return lo < NoMinimum;
}

// Plane p of the source as the work image, with its own range and scale: the
// fallback enlarges each plane from its own values. A flat plane takes the
// scale 1, which makes every input 0 and so its base its one value. False
// when the plane has no valid pixel.
bool UsePlaneAsWork(const TImageSlot& src, int p, TAutoscanImages& im) {
  const TPlane& plane = src.Planes[size_t(p)];
  std::copy(plane.begin(), plane.begin() + ptrdiff_t(src.PixelCount()), im.Work.Values.begin());
  if (!SetWorkRange(im)) return false;
  if (!(im.S > 0) || !std::isfinite(im.S)) im.S = 1;
  return true;
}

}  // namespace

TAutoscanSettings ClampAutoscanSettings(TAutoscanSettings s) {
  s.Quality = std::clamp(s.Quality, 1, 10);
  s.Neurons = std::clamp(s.Neurons, 10, 100);
  s.ScanBox = std::clamp(s.ScanBox, 10, 300);
  return s;
}

bool MakeAutoscanWorkImage(int slot, TAutoscanImages& images) {
  if (!SlotInUse(slot)) return false;
  const TImageSlot& s = Store.Image[size_t(slot)];
  images.Work.Values = GreyPlaneOf(slot);
  images.Work.Width = s.Width;
  images.Work.Height = s.Height;
  if (images.Work.Values.empty() || s.Width < 1 || s.Height < 1) return false;
  return SetWorkRange(images) && images.S > 0 && std::isfinite(images.S);
}

void MakeAutoscanHalfImage(TAutoscanImages& images) {
  TImageSlot half;
  half.Width = images.Work.Width;
  half.Height = images.Work.Height;
  half.PlaneCount = 1;
  half.Planes[1] = images.Work.Values;
  ResampleImage(half, Settings.InterpolationKind, 0, 0.5, 0.5, 0, false, false, true);
  images.Half.Values = std::move(half.Planes[1]);
  images.Half.Width = half.Width;
  images.Half.Height = half.Height;
}

void AutoscanInputs(const TGreyImage& image, int32_t x, int32_t y, TAutoscanImages& images) {
  const int32_t w = image.Width, h = image.Height;
  float centre = image.At(std::clamp(x + 2, 0, w - 1), std::clamp(y + 2, 0, h - 1));
  if (!IsValidPixel(centre)) centre = images.Mid;
  float lo = centre, hi = centre;
  float* in = NetworkPass.X.data();
  for (int i = 0; i < 21; ++i) {
    const int32_t px = x + WindowDx[i], py = y + WindowDy[i];
    float v = px >= 0 && px < w && py >= 0 && py < h ? image.At(px, py) : centre;
    if (!IsValidPixel(v)) v = centre;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    in[i] = (v - images.Mid) / images.S;
  }
  images.Spread += double(hi) - lo + images.S / 4.0;
}

void AutoscanTrainStep(int32_t x, int32_t y, TAutoscanImages& images) {
  ForwardNetwork21(images.Neurons);
  const TGreyImage& work = images.Work;
  const int32_t xs[2] = {std::min(x, work.Width - 1), std::min(x + 1, work.Width - 1)};
  const int32_t ys[2] = {std::min(y, work.Height - 1), std::min(y + 1, work.Height - 1)};
  for (int k = 0; k < 4; ++k) {
    float v = work.At(xs[k % 2], ys[k / 2]);
    if (!IsValidPixel(v)) v = images.Mid;
    Network.T[size_t(k)] = (v - images.Mid) / images.S;
  }
  TrainStepSimple(images.Neurons);
}

TAutoscanEnd UpscaleX2Autoscan(int source, int destination, TAutoscanSettings settings, uint64_t seed,
                               const TAutoscanPoll& poll) {
  AbortRequested = 0;
  if (!SlotInUse(source) || !SlotInUse(destination)) return TAutoscanEnd::Flat;
  settings = ClampAutoscanSettings(settings);
  RequireX2EnlargementMemory(source, 2);  // the result, the work image and its half
  TAutoscanImages im;
  if (!MakeAutoscanWorkImage(source, im)) return TAutoscanEnd::Flat;
  MakeAutoscanHalfImage(im);
  if (im.Half.Width < 1 || im.Half.Height < 1) return TAutoscanEnd::Flat;
  im.Neurons = settings.Neurons;

  const TImageSlot& src = Store.Image[size_t(source)];
  const int32_t w = src.Width, h = src.Height, planes = src.PlaneCount;
  const bool colour = planes >= 3 && src.IsColor;
  const bool yuv = colour && src.ColorModel == CmYuv;
  // The planes the network writes: all of an RGB or grey image, the Y plane of
  // a YUV one (whose colour planes keep the source's values, doubled).
  const int written = yuv ? 1 : planes;
  // The result starts as the source with every pixel doubled, the written
  // planes within the work image's range, and the scan writes every block.
  std::array<TPlane, 4> out;
  for (int p = 1; p <= planes; ++p) {
    out[size_t(p)].resize(size_t(4) * src.PixelCount());
    for (int32_t y = 0; y < 2 * h; ++y)
      for (int32_t x = 0; x < 2 * w; ++x) {
        const float v = src.At(p, x / 2, y / 2);
        out[size_t(p)][size_t(y) * size_t(2 * w) + size_t(x)] =
            p > written ? v : (IsValidPixel(v) ? std::clamp(v, im.Low, im.High) : im.Mid);
      }
  }

  std::mt19937_64 rng(seed);
  StartNetwork(settings.Neurons, rng);
  if (!settings.Train)
    for (int32_t j = 0; j <= settings.Neurons; ++j)
      for (int32_t o = 0; o < 4; ++o) Network.W2At(j, o) = 0;
  const double rateDivisor = 4.4 * std::sqrt(double(settings.Neurons));
  auto rate = [&](int32_t c) { Network.Rate = std::sqrt(c / 16000.0) / rateDivisor; };
  bool stopped = false;

  // The initial training.
  for (int32_t c = StartCountdown; c > ScanCountdown && !stopped; --c) {
    rate(c);
    for (int32_t k = 0; settings.Train && k < 2 * settings.Quality + 1; ++k) TrainAtRandom(im, rng);
    const int percent = int(int64_t(StartCountdown - c) * 100 / (StartCountdown - ScanCountdown));
    stopped = AbortRequested || (poll && !poll(false, percent));
  }

  // The scan along the inward spiral.
  TSpiral sp;
  sp.X = 0;
  sp.Y = h - 3;
  sp.Right = w - 1;
  sp.Bottom = h - 1;
  const int64_t area = int64_t(w) * h;
  rate(ScanCountdown);
  const size_t w2 = size_t(2 * w);
  // Plane p's block of pixel (x, y): its four values in the work image's
  // units, value * s + mid, set off by `shift`, clamped into its range.
  auto putBlock = [&](int p, int32_t x, int32_t y, const std::array<float, 4>& values, float shift) {
    float* block = out[size_t(p)].data() + size_t(2 * y) * w2 + size_t(2 * x);
    for (size_t k = 0; k < 4; ++k)
      block[k / 2 * w2 + k % 2] = std::clamp(values[k] * im.S + im.Mid + shift, im.Low, im.High);
  };
  // The network's block of pixel (x, y) from the window centred on it, in
  // every written plane, an RGB plane's set off by its difference from the
  // grey at (x, y).
  auto writeBlock = [&](int32_t x, int32_t y, const std::array<float, 4>& values) {
    const float grey = im.Work.At(x, y);
    for (int p = 1; p <= written; ++p) {
      float shift = 0;
      if (colour && !yuv && IsValidPixel(grey) && IsValidPixel(src.At(p, x, y))) shift = src.At(p, x, y) - grey;
      putBlock(p, x, y, values, shift);
    }
  };
  TPairErrors pairs;
  while (!stopped && !sp.Closed()) {
    const int32_t x = sp.PixelX(), y = sp.PixelY();
    if (x >= 0 && x < w && y >= 0 && y < h) {
      AutoscanInputs(im.Work, x - WindowCentre, y - WindowCentre, im);
      ForwardNetwork21(im.Neurons);
      writeBlock(x, y, NetworkPass.Y);
      if (x % 2 == 0 && y % 2 == 0) pairs.Add(im, x / 2, y / 2);
      for (int32_t k = 0; settings.Train && k < settings.Quality; ++k) TrainNearPoint(im, sp, settings.ScanBox, rng);
    }
    int percent = -1;
    if (sp.Advance()) {
      const int64_t left = sp.Closed() ? 0 : int64_t(sp.Right - sp.Left + 1) * (sp.Bottom - sp.Top + 1);
      percent = int(100 - 100 * std::clamp<int64_t>(left, 0, area) / std::max<int64_t>(area, 1));
    }
    stopped = AbortRequested || (poll && !poll(true, percent));
  }
  // The network lost to its base: every written plane becomes the base of its
  // own values on the same grid, its bilinear enlargement (a grey image's and
  // a YUV image's Y plane is the work image itself). The work image, no longer
  // needed, holds each plane in turn; a plane without a valid pixel stays blank.
  const bool keepBase = settings.KeepBaseWhenWorse && pairs.Network > pairs.Base;
  for (int p = 1; keepBase && p <= written && !stopped; ++p) {
    if (!UsePlaneAsWork(src, p, im)) {
      std::fill(out[size_t(p)].begin(), out[size_t(p)].end(), BlankPixel);
      continue;
    }
    for (int32_t y = 0; y < h && !stopped; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        AutoscanInputs(im.Work, x - WindowCentre, y - WindowCentre, im);
        putBlock(p, x, y, NetworkBase21(NetworkPass.X.data()), 0);
      }
      stopped = AbortRequested || (poll && !poll(true, -1));
    }
  }
  if (stopped) return TAutoscanEnd::Aborted;
  if (keepBase) EngineUi().ShowStatus(AutoscanBaseKept);
  TImageSlot& d = Store.Image[size_t(destination)];
  for (int p = 1; p <= planes; ++p) d.Planes[size_t(p)] = std::move(out[size_t(p)]);
  d.Width = 2 * w;
  d.Height = 2 * h;
  d.PlaneCount = planes;
  return keepBase ? TAutoscanEnd::KeptBase : TAutoscanEnd::Done;
}

}  // namespace astrelon
