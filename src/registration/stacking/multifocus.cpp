#include "registration/stacking/multifocus.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>

#include "common/engine_ui.h"
#include "common/file_extension.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "registration/stacking/frame_shape.h"
#include "registration/stacking/master_frames.h"
#include "shell/slots/slot_utilities.h"
#include "store/display/display_histogram.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

constexpr std::array<float, MultifocusSpan * MultifocusSpan> MakeWeights() {
  std::array<float, MultifocusSpan * MultifocusSpan> w{};
  for (int dy = -MultifocusReach; dy <= MultifocusReach; ++dy)
    for (int dx = -MultifocusReach; dx <= MultifocusReach; ++dx)
      w[size_t((dy + MultifocusReach) * MultifocusSpan + dx + MultifocusReach)] = 1.0f / float(dx * dx + dy * dy + 1);
  return w;
}
constexpr std::array<float, MultifocusSpan * MultifocusSpan> Weights = MakeWeights();

// The last 30 characters of a name (UTF-8 aware).
std::string LastCharacters(const std::string& s, size_t n) {
  size_t chars = 0, i = s.size();
  while (i > 0 && chars < n) {
    --i;
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) ++chars;
  }
  return s.substr(i);
}

// Edge strength m and spread radius r of every inner pixel (m = 0: none).
void EdgeStrength(std::span<const float> plane, int32_t w, int32_t h, float sigma, float base, std::vector<float>& m,
                  std::vector<int8_t>& r, int threads) {
  ForEachBand(h - 2, threads, [&](int64_t b0, int64_t b1) {
    for (int64_t y = b0 + 1; y < b1 + 1; ++y) {
      for (int32_t x = 1; x < w - 1; ++x) {
        const size_t i = size_t(y) * size_t(w) + size_t(x);
        const float v = plane[i];
        if (!IsValidPixel(v)) continue;
        float most = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          const float* row = plane.data() + (size_t(y + dy) * size_t(w) + size_t(x - 1));
          for (int dx = 0; dx < 3; ++dx)
            if (IsValidPixel(row[dx])) most = std::max(most, std::fabs(row[dx] - v));
        }
        const float e = most - 4 * sigma;
        if (!(e > 0)) continue;
        m[i] = e;
        const double l = base > 0 ? std::clamp(std::log10(double(e) / double(base)), 1.0, 10.0) : 10.0;
        r[i] = int8_t(std::nearbyint(l));
      }
    }
  });
}

}  // namespace

float MultifocusWeight(int dx, int dy) {
  return Weights[size_t((dy + MultifocusReach) * MultifocusSpan + dx + MultifocusReach)];
}

void MultifocusSharpness(std::span<const float> plane, int32_t w, int32_t h, float sigma, float base,
                         std::span<float> q, int threads) {
  std::fill(q.begin(), q.end(), base);
  if (w < 3 || h < 3) return;
  std::vector<float> m(size_t(w) * size_t(h), 0.0f);
  std::vector<int8_t> r(m.size(), 0);
  EdgeStrength(plane, w, h, sigma, base, m, r, threads);
  // Each band owns its output rows and visits the sources that reach them in
  // raster order: every output pixel sums the same terms in the same order.
  ForEachBand(h, threads, [&](int64_t y0, int64_t y1) {
    const int64_t s0 = std::max<int64_t>(1, y0 - MultifocusReach);
    const int64_t s1 = std::min<int64_t>(h - 2, y1 - 1 + MultifocusReach);
    for (int64_t sy = s0; sy <= s1; ++sy) {
      const float* mr = m.data() + size_t(sy) * size_t(w);
      const int8_t* rr = r.data() + size_t(sy) * size_t(w);
      for (int32_t sx = 1; sx < w - 1; ++sx) {
        const float e = mr[sx];
        if (!(e > 0)) continue;
        const int rad = rr[sx];
        const int64_t ty0 = std::max<int64_t>(sy - rad, y0), ty1 = std::min<int64_t>(sy + rad, y1 - 1);
        const int32_t tx0 = std::max(sx - rad, 0), tx1 = std::min(sx + rad, w - 1);
        const int32_t len = tx1 - tx0 + 1;
        for (int64_t ty = ty0; ty <= ty1; ++ty) {
          const float* wp = Weights.data() + size_t((ty - sy + MultifocusReach) * MultifocusSpan) +
                            size_t(tx0 - sx + MultifocusReach);
          float* qp = q.data() + size_t(ty) * size_t(w) + size_t(tx0);
          for (int32_t k = 0; k < len; ++k) qp[k] += wp[k] * e;
        }
      }
    }
  });
}

int BuildMultifocusImage(const std::vector<std::string>& files, std::string& name, TMasterProgress& progress) {
  BatchAbort = 0;
  const int n = int(files.size());
  if (n < 2) {
    EngineUi().ShowMessage("Es sind nicht genug Dateien zur Bearbeitung ausgewählt worden.");
    return -1;
  }
  progress.Start("Multifokusdatei erstellen");
  // A frame and the result need two free slots: checked before anything is loaded.
  if (CountFreeSlots() < 2) {
    EngineUi().ShowMessage(TooFewSlotsText());
    BatchAbort = 1;
    progress.Report(MasterWrittenText({}));
    progress.Finish(MasterEndTitle(true, false));
    return -1;
  }
  name = ReplaceFileExt(name, Settings.FitsExtension);
  int result = -1, used = 0;
  float sigma = 0.001f, base = 0;
  std::array<std::vector<float>, 4> weightSum;
  std::vector<float> q;
  for (const std::string& file : files) {
    if (BatchAbort) break;
    const int f = FreeSlotExcept(result);
    if (f < 1) break;
    bool loaded = false;
    try {
      loaded = LoadImageFile(f, file);
    } catch (const std::bad_alloc&) {
      EngineUi().ShowMessage(OutOfMemoryText(file));
    }
    if (!loaded) {
      FreeSlot(f);
      EngineUi().ProcessMessages();
      continue;
    }
    const TImageSlot& F = Store.Image[size_t(f)];
    if (used == 0) {
      result = FreeSlotExcept(f);
      if (result < 1 || !CopyImageSlot(f, result)) {
        FreeSlot(f);
        result = -1;
        break;
      }
      MakeCopyName(f, result);  // never the first frame's own name
      ZeroAllPlanes(result);
      for (int p = 1; p <= F.PlaneCount; ++p) weightSum[size_t(p)].assign(F.PixelCount(), 0.0f);
      sigma = std::max(EstimatePlaneNoise(f, F.PlaneCount >= 2 ? 2 : 1), 0.001f);
      base = float(0.0002 / n * sigma * 4);
    }
    ++used;
    if (BatchStatusLabels) BatchStatusLabels->SetFileLabel(LastCharacters(file, 30));
    TImageSlot& R = Store.Image[size_t(result)];
    const int threads = BandThreads(int64_t(F.Width) * F.Height, 1 << 15, Options.Multicore != 0);
    q.resize(F.PixelCount());
    const int32_t w = std::min(F.Width, R.Width), h = std::min(F.Height, R.Height);
    for (int p = 1; p <= std::min(F.PlaneCount, R.PlaneCount); ++p) {
      MultifocusSharpness(F.Plane(p), F.Width, F.Height, sigma, base, q, threads);
      float* ws = weightSum[size_t(p)].data();
      ForEachBand(h, threads, [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
          const float* fr = F.Row(p, int(y)).data();
          const float* qr = q.data() + size_t(y) * size_t(F.Width);
          float* rr = R.Row(p, int(y)).data();
          float* wr = ws + size_t(y) * size_t(R.Width);
          for (int32_t x = 0; x < w; ++x) {
            if (!IsValidPixel(fr[x])) continue;
            rr[x] += qr[x] * fr[x];
            wr[x] += qr[x];
          }
        }
      });
    }
    FreeSlot(f);
    EngineUi().ProcessMessages();
  }
  if (BatchAbort || used == 0) {
    if (result > 0) FreeSlot(result);
    progress.Report(MasterWrittenText({}));
    progress.Finish(MasterEndTitle(BatchAbort != 0, false));
    return -1;
  }
  TImageSlot& R = Store.Image[size_t(result)];
  for (int p = 1; p <= R.PlaneCount; ++p) {
    float* v = R.Plane(p).data();
    const float* ws = weightSum[size_t(p)].data();
    for (size_t i = 0; i < R.PixelCount(); ++i) v[i] = ws[i] > 0 ? v[i] / ws[i] : BlankPixel;
  }
  UpdateMinMax(result);
  const bool saved = SaveMasterFile(result, name, "Die Multifokus-Datei existiert schon", progress);
  ComputeHistogram(result, true, true);
  SetAutoDisplayRange(result, false);
  progress.Report(MasterWrittenText(saved ? std::vector<std::string>{name} : std::vector<std::string>{}));
  progress.Finish(MasterEndTitle(false, saved));
  return result;
}

}  // namespace astrelon
