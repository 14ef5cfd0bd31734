#include "registration/stacking/mean_fits_rows.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "platform/worker_pool.h"
#include "registration/calibration/dark_subtraction.h"
#include "registration/stacking/frame_shape.h"
#include "registration/stacking/mean_sums.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Files open at one time; a longer list is added in groups, the sums and counts
// kept in the target and a count plane between them.
constexpr size_t GroupFiles = 256;
// Pixels of one band: its sums, counts and raw rows stay in the worker's cache.
constexpr int64_t BandPixels = 32768;

struct TFrameRows {
  std::unique_ptr<TFitsFile> File;
  const TFitsDecoder* Decoder = nullptr;
};

struct TWorkerRows {
  std::vector<float> Sum, Values;
  std::vector<int16_t> Count;
  std::vector<uint8_t> Raw;
};

// Opens the files of one group; false when one fails or no longer has the target's shape.
bool OpenGroup(const std::vector<std::string>& files, size_t first, size_t last, const TFrameShape& shape,
               TFitsDecoderCache& decoders, std::vector<TFrameRows>& frames) {
  frames.clear();
  for (size_t i = first; i < last; ++i) {
    TFrameRows f;
    f.File = std::make_unique<TFitsFile>();
    if (!OpenFitsFile(files[i], *f.File) || !f.File->Layout || TFrameShape::Of(*f.File->Layout) != shape) return false;
    f.Decoder = &decoders.For(*f.File);
    frames.push_back(std::move(f));
  }
  return true;
}

// Where a band's rows go: the sums and counts of the worker, and the rows of
// the difference of the first two frames (null when not wanted).
struct TBandOut {
  int32_t A = 0, N = 0;  // image rows A .. A + N - 1
  int Plane = 1, DarkPlane = 1;
  const float* First = nullptr;  // the first frame's rows
  float* Difference = nullptr;
};

// The first frame's row at offset o minus the second frame's row.
void WriteDifferenceRow(const TBandOut& b, size_t o, std::span<const float> second) {
  std::copy_n(b.First + o, second.size(), b.Difference + o);
  SubtractDarkRow(std::span(b.Difference + o, second.size()), second, false, 1.0, 0.0, Sse2Enabled);
}

// Adds the band's rows of a frame into the sums; false when they cannot be read.
bool AddFrameBand(const TFrameRows& f, const TBandOut& b, int32_t W, int32_t H, const TImageSlot* dark,
                  TWorkerRows& w) {
  const TFitsImageLayout& l = *f.File->Layout;
  // A plane the file lacks is blank: blank values count nothing, and subtracted
  // from the first frame they blank it.
  if (b.Plane > l.PlanesInFile) {
    if (!b.Difference) return true;
    std::fill_n(w.Values.data(), size_t(W), BlankPixel);
    for (size_t o = 0; o < size_t(b.N) * size_t(W); o += size_t(W)) WriteDifferenceRow(b, o, w.Values);
    return true;
  }
  const bool flip = Options.FitsFlip != 0;
  // File rows of the image rows: the same rows counted from the top or the bottom.
  const int64_t fileFirst = flip ? b.A : H - (b.A + b.N);
  w.Raw.resize(size_t(b.N) * size_t(l.RowBytes));
  const uint64_t at = l.DataOffset + uint64_t(b.Plane - 1) * l.PlaneBytes + uint64_t(fileFirst) * l.RowBytes;
  if (!f.File->Input.ReadAt(at, w.Raw)) return false;
  for (int32_t j = 0; j < b.N; ++j) {
    const int32_t y = b.A + j;
    const int64_t fileRow = flip ? y : H - 1 - y;
    const size_t o = size_t(j) * size_t(W);
    f.Decoder->DecodeRow(w.Raw.data() + size_t(fileRow - fileFirst) * size_t(l.RowBytes), size_t(W), w.Values.data(),
                         Sse2Enabled);
    if (b.Difference) WriteDifferenceRow(b, o, w.Values);
    if (dark && y >= dark->Height) continue;
    AddRowToMean(w.Sum.data() + o, w.Count.data() + o, w.Values.data(),
                 dark ? dark->Row(b.DarkPlane, y).data() : nullptr, dark ? std::min(W, dark->Width) : W, Sse2Enabled);
  }
  return true;
}

}  // namespace

TMeanRows MeanOfFitsRows(int target, const std::vector<std::string>& files, const TImageSlot* dark, int threads,
                         TPlane* difference, int differencePlane) {
  TImageSlot& t = Store.Image[size_t(target)];
  const int32_t W = t.Width, H = t.Height;
  const int P = t.PlaneCount;
  const TFrameShape shape = TFrameShape::Of(t);
  const int32_t bandRows = int32_t(std::clamp<int64_t>(BandPixels / std::max(W, 1), 1, H));
  const int64_t bands = (int64_t(H) + bandRows - 1) / bandRows;
  const size_t groups = std::max<size_t>(1, (files.size() + GroupFiles - 1) / GroupFiles);
  // Between groups the counts wait here (the sums wait in the target).
  std::vector<std::vector<int16_t>> counts(groups > 1 ? size_t(P) + 1 : 0);
  for (int p = 1; p <= P && groups > 1; ++p) counts[size_t(p)].assign(t.PixelCount(), 0);

  TFitsDecoderCache decoders;
  TWorkerPool pool(threads);
  std::vector<TWorkerRows> workers(size_t(pool.Threads()));
  std::vector<TFrameRows> frames;
  for (size_t g = 0; g < groups; ++g) {
    if (!OpenGroup(files, g * GroupFiles, std::min(files.size(), (g + 1) * GroupFiles), shape, decoders, frames))
      return TMeanRows::ReadFailed;
    const bool first = g == 0, last = g + 1 == groups;
    std::atomic<bool> failed{false};
    pool.Run(
        bands,
        [&](int64_t k, int worker) {
          if (BatchAbort || failed) return;
          const int32_t a = int32_t(k) * bandRows, n = std::min(bandRows, H - a);
          const size_t px = size_t(n) * size_t(W);
          TWorkerRows& w = workers[size_t(worker)];
          w.Sum.resize(px);
          w.Count.resize(px);
          w.Values.resize(size_t(W));
          for (int p = 1; p <= P; ++p) {
            float* out = t.Row(p, a).data();  // the band's rows follow each other
            TBandOut b{a, n, p, dark && p <= dark->PlaneCount ? p : 1, out, nullptr};
            if (first) {
              std::fill_n(w.Sum.data(), px, 0.0f);
              std::fill_n(w.Count.data(), px, int16_t(0));
              // The first frame: its values wait in the target until the band's mean replaces them.
              for (int32_t j = 0; j < n; ++j) {
                const int32_t y = a + j;
                if (dark && y >= dark->Height) continue;
                const size_t o = size_t(j) * size_t(W);
                AddRowToMean(w.Sum.data() + o, w.Count.data() + o, out + o,
                             dark ? dark->Row(b.DarkPlane, y).data() : nullptr, dark ? std::min(W, dark->Width) : W, Sse2Enabled);
              }
            } else {
              std::copy_n(out, px, w.Sum.data());
              std::copy_n(counts[size_t(p)].data() + size_t(a) * size_t(W), px, w.Count.data());
            }
            for (size_t f = 0; f < frames.size(); ++f) {
              b.Difference = first && f == 0 && difference && p == differencePlane
                                 ? difference->data() + size_t(a) * size_t(W)
                                 : nullptr;
              if (!AddFrameBand(frames[f], b, W, H, dark, w)) {
                failed = true;
                return;
              }
            }
            if (last) {
              DivideMean(w.Sum.data(), w.Count.data(), px);
            } else {
              std::copy_n(w.Count.data(), px, counts[size_t(p)].data() + size_t(a) * size_t(W));
            }
            std::copy_n(w.Sum.data(), px, out);
          }
        },
        [] { EngineUi().ProcessMessages(); });
    if (failed) return TMeanRows::ReadFailed;
    if (BatchAbort) return TMeanRows::Aborted;
  }
  return TMeanRows::Done;
}

}  // namespace astrelon
