#include "pixelops/geometry/field_distortion.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "common/engine_ui.h"
#include "common/text_excerpt.h"
#include "core/busy_cursor.h"
#include "core/settings.h"
#include "kernels/sampling/remap_target.h"
#include "platform/parallel_bands.h"
#include "platform/parallel_chunks.h"
#include "store/slot_holds.h"

namespace astrelon {

namespace {

constexpr int32_t UnitSteps = 10000;  // table entries per unit
constexpr int32_t SinSteps = 15708;   // sin table: -1.5708 .. 1.5708
constexpr double HalfPi = 1.5708;     // the models' latitude and longitude limit
constexpr double MaxFloat = double(std::numeric_limits<float>::max());

struct TTables {
  std::vector<double> ArcSin2Pi, CosArcSin, Sin;
  TTables() : ArcSin2Pi(2 * UnitSteps + 1), CosArcSin(2 * UnitSteps + 1), Sin(2 * SinSteps + 1) {
    for (int32_t i = -UnitSteps; i <= UnitSteps; ++i) {
      const double as = std::asin(double(i) / UnitSteps);
      ArcSin2Pi[size_t(i + UnitSteps)] = as * 2 / std::numbers::pi;
      CosArcSin[size_t(i + UnitSteps)] = std::cos(as);
    }
    for (int32_t i = -SinSteps; i <= SinSteps; ++i) Sin[size_t(i + SinSteps)] = std::sin(double(i) / UnitSteps);
  }
};

const TTables& Tables() {
  static const TTables t;
  return t;
}

// Entry of the nearest integer of x * 10000 (halves to even) in a table of
// -limit .. limit; NaN takes the first entry.
double Lookup(const std::vector<double>& table, int32_t limit, double x) {
  double i = std::nearbyint(x * UnitSteps);
  if (!(i > -limit)) i = -limit;
  if (i > limit) i = limit;
  return table[size_t(int32_t(i) + limit)];
}

// Everything a row of the correction needs.
struct TModel {
  TDistortionValues V;
  int32_t W = 0, H = 0;
  double Cx = 0, Cy = 0, R = 1, A = 0, B = 0;

  bool Usable(double xs, double ys) const { return xs >= 0 && xs < W - 0.9 && ys >= 0 && ys < H - 0.9; }

  void Row(const TRemapTarget& t, int32_t r) const {
    switch (V.Page) {
      case TDistortionPage::Pincushion:
        if (V.HorizontalOnly)
          HorizontalRow(t, r);
        else
          PincushionRow(t, r);
        break;
      case TDistortionPage::Planet:
        PlanetRow(t, r);
        break;
      case TDistortionPage::Panorama:
        PanoramaRow(t, r);
        break;
    }
  }

  // The polynomial factor at relative radius rho.
  double Scale(double rho) const { return ((V.A * rho + V.B) * rho + V.C) * rho + V.D; }

  void PincushionRow(const TRemapTarget& t, int32_t r) const {
    const size_t row = size_t(r) * size_t(W);
    const double dy = r - Cy;
    for (int32_t c = 0; c < W; ++c) {
      const double dx = c - Cx;
      const double rho = std::sqrt(dx * dx + dy * dy) / R;
      double xs = Cx, ys = Cy;
      if (rho > 0) {
        const double s = Scale(rho);
        xs = Cx + dx * s;
        ys = Cy + dy * s;
      }
      if (Usable(xs, ys))
        t.Sample(row + size_t(c), float(xs), float(ys));
      else
        t.Blank(row + size_t(c));
    }
  }

  void HorizontalRow(const TRemapTarget& t, int32_t r) const {
    const size_t row = size_t(r) * size_t(W);
    for (int32_t c = 0; c < W; ++c) {
      const double dx = c - Cx;
      const double xs = Cx + dx * Scale(std::fabs(dx) / R);
      if (!(xs >= 0 && xs < W - 0.9)) {
        t.Blank(row + size_t(c));
        continue;
      }
      for (int32_t p = 0; p < t.Planes; ++p)
        t.Out[size_t(p)][row + size_t(c)] =
            SampleLine(t.Source[size_t(p)].Data + row, 1, W, t.Kind, float(xs));
    }
  }

  void PlanetRow(const TRemapTarget& t, int32_t r) const {
    const size_t row = size_t(r) * size_t(W);
    const double lat = B != 0 ? (r - Cy) / B : HUGE_VAL;
    if (!(std::fabs(lat) < HalfPi) || A == 0) {
      for (int32_t c = 0; c < W; ++c) t.Blank(row + size_t(c));
      return;
    }
    const TTables& tab = Tables();
    const double s = Lookup(tab.Sin, SinSteps, lat);
    const double k = Lookup(tab.CosArcSin, UnitSteps, s);
    const double ys = Cy + s * B;
    for (int32_t c = 0; c < W; ++c) {
      const size_t i = row + size_t(c);
      const double lon = (c - Cx) / A;
      const double xs = Cx + Lookup(tab.Sin, SinSteps, lon) * k * A;
      if (!(std::fabs(lon) < HalfPi) || !Usable(xs, ys)) {
        t.Blank(i);
        continue;
      }
      const double ry = (ys - Cy) / B, rx = (xs - Cx) / A;
      const double rho = std::sqrt(ry * ry + rx * rx);
      double f = 1;
      if (!(rho > 1)) f = (V.LimbContrast - 1) * (1 - std::sqrt(std::fabs(Lookup(tab.CosArcSin, UnitSteps, rho)))) + 1;
      f = std::min(f, 4.0);
      for (int32_t p = 0; p < t.Planes; ++p) {
        const float v = SamplePoint(t.Source[size_t(p)], t.Kind, float(xs), float(ys));
        // A large limb contrast must not carry the product beyond the float range.
        t.Out[size_t(p)][i] = v > BlankLimit ? float(std::clamp(f * v, -MaxFloat, MaxFloat)) : BlankPixel;
      }
    }
  }

  void PanoramaRow(const TRemapTarget& t, int32_t r) const {
    const size_t row = size_t(r) * size_t(W);
    const double pi = std::numbers::pi;
    const double h = pi * (0.5 - V.Horizon);
    const double span = std::max(W - 1, 1);
    double v = (2.0 * r - (H - 1)) / span;
    if (V.Width > 1) v /= V.Width;
    v -= 0.62831 * h;
    const double lat = pi * v / 2;
    const double sinLat = std::sin(lat), cosLat = std::cos(lat);
    for (int32_t c = 0; c < W; ++c) {
      double u = 2.0 * c / span - 1;
      if (V.Width > 1) u /= V.Width;
      const double lon = pi * u / 2;
      double px = std::sin(lon) * cosLat, py = sinLat;
      const double pz = std::cos(lon) * cosLat;
      if (h != 0) {
        const double turned = std::atan2(py, pz) + h;
        py = turned < -HalfPi || turned > HalfPi ? 2.0 : std::sin(turned) * std::sqrt(pz * pz + py * py);
      }
      const double rho = std::sqrt(px * px + py * py);
      if (rho > 0 && rho < 1) {
        const double stretch = Lookup(Tables().ArcSin2Pi, UnitSteps, rho) / rho;
        px *= stretch;
        py *= stretch;
      }
      const double xs = Cx + px * A, ys = Cy + py * B;
      if (rho < 1.01 && Usable(xs, ys))
        t.Sample(row + size_t(c), float(xs), float(ys));
      else
        t.Blank(row + size_t(c));
    }
  }
};

}  // namespace

bool CorrectFieldDistortion(int src, int dst, const TDistortionValues& v) {
  TBusyCursorScope busy;
  const TInterpolationKindScope kind(Settings.InterpolationKind);
  const std::optional<TRemapTarget> target = MakeRemapTarget(src, dst);
  if (!target) return false;
  TModel m;
  m.V = v;
  m.W = target->Width;
  m.H = target->Height;
  m.Cx = (m.W - 1) * v.CentreX;
  m.Cy = (m.H - 1) * v.CentreY;
  m.R = std::sqrt(double(m.H) / 2 * (double(m.H) / 2) + double(m.W) / 2 * (double(m.W) / 2));
  m.A = m.W * v.Width * 0.5;
  m.B = v.Factor * m.A;
  Tables();

  // The rows run on worker threads while this thread shows the percentage of
  // rows done and lets events run every 20 ms; the source and the result are
  // held so that no command changes or frees them meanwhile.
  const TSlotHold hold({src, dst});
  const TRemapTarget& t = *target;
  const int threads = BandThreads(int64_t(m.W) * m.H, int64_t(1) << 15, Options.Multicore != 0);
  std::atomic<int64_t> rowsDone{0};
  std::mutex mutex;
  std::condition_variable ended;
  bool finished = false;
  std::exception_ptr error;
  const auto rows = [&] {
    try {
      ForEachChunk(m.H, 8, threads, [&](int64_t a, int64_t b) {
        for (int64_t r = a; r < b; ++r) m.Row(t, int32_t(r));
        rowsDone += b - a;
      });
    } catch (...) {
      error = std::current_exception();
    }
    const std::lock_guard<std::mutex> lock(mutex);
    finished = true;
    ended.notify_all();
  };
  std::thread driver;
  try {
    driver = StartBandThread(rows);
  } catch (const std::system_error&) {
    rows();  // no thread to spare: the rows run here
  }
  std::string shown;
  for (bool done = false; !done;) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      done = ended.wait_for(lock, std::chrono::milliseconds(20), [&] { return finished; });
    }
    const std::string text = std::to_string(rowsDone * 100 / m.H) + "%";
    if (text != shown) EngineUi().ShowStatus(shown = text);
    EngineUi().ProcessMessages();
  }
  if (driver.joinable()) driver.join();
  if (error) std::rethrow_exception(error);
  return true;
}

const std::string& DistortionFieldText(const TDistortionSettings& s, TDistortionField field) {
  using F = TDistortionField;
  switch (field) {
    case F::A: return s.A;
    case F::B: return s.B;
    case F::C: return s.C;
    case F::D: return s.D;
    case F::CentreX: return s.CentreX;
    case F::CentreY: return s.CentreY;
    case F::PlanetWidth: return s.PlanetWidth;
    case F::PlanetFactor: return s.PlanetFactor;
    case F::LimbContrast: return s.LimbContrast;
    case F::PanoramaWidth: return s.PanoramaWidth;
    case F::PanoramaFactor: return s.PanoramaFactor;
    case F::Horizon: break;
  }
  return s.Horizon;
}

bool CorrectFieldDistortion(int src, int dst) {
  TDistortionField bad = TDistortionField::A;
  const std::optional<TDistortionValues> v = DistortionValues(DistortionSettings, &bad);
  if (!v)
    throw std::invalid_argument("'" + MessageExcerpt(DistortionFieldText(DistortionSettings, bad)) +
                                "' ist kein gültiger Gleitkommawert");
  return CorrectFieldDistortion(src, dst, *v);
}

}  // namespace astrelon
