// The stack's bands filled straight from FITS files: each frame's levels are
// measured once from its file, then every band reads only its rows of each
// file into a buffer of the worker that combines them, on all workers.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "platform/processor_features.h"
#include "registration/stacking/stack_run.h"
#include "registration/stacking/stack_statistic.h"
#include "store/fits/fits_header.h"
#include "store/fits/fits_pixel_decoder.h"
#include "store/fits/fits_plane_level.h"
#include "store/fits/fits_reader.h"
#include "store/image_store.h"
#include "store/load_messages.h"

namespace astrelon {

namespace {

// A worker's buffer holds about this many bytes of frame values at most.
constexpr uint64_t WorkerValueBytes = uint64_t(4) << 20;

// The frames that take part in a band: their open files, decoders and levelling.
struct TBandFrame {
  int Index = 0;
  std::unique_ptr<TFitsFile> File;
  const TFitsDecoder* Decoder = nullptr;
  TLevelling Levelling;
};

// One worker's buffers: the raw rows of a frame plane and the decoded values,
// [plane][frame][row] rows of W values.
struct TWorkerBuffers {
  std::vector<uint8_t> Raw;
  std::vector<float> Values;
};

// Decodes one file row into `dst` and levels it; with a flat-dark row the dark
// is subtracted first, columns beyond either width and rows beyond the dark's
// height stay blank.
void DecodeFrameRow(const TBandFrame& f, int p, const uint8_t* raw, int32_t w, int32_t r, const TFlatDark& dark,
                    float* dst) {
  f.Decoder->DecodeRow(raw, size_t(w), dst, Sse2Enabled);
  const TLevelling& lev = f.Levelling;
  if (dark.Slot <= 0) {
    const float c = lev.C[size_t(p)];
    if (lev.Multiply)
      for (int32_t x = 0; x < w; ++x) dst[x] = IsValidPixel(dst[x]) ? dst[x] * c : BlankPixel;
    else
      for (int32_t x = 0; x < w; ++x) dst[x] = IsValidPixel(dst[x]) ? dst[x] + c : BlankPixel;
    return;
  }
  const TImageSlot& dk = Store.Image[size_t(dark.Slot)];
  if (r >= dk.Height) {
    std::fill_n(dst, w, BlankPixel);
    return;
  }
  const float* d = dk.Row(dark.PlaneFor(p), r).data();
  const int32_t width = std::min(w, dk.Width);
  for (int32_t x = 0; x < width; ++x)
    dst[x] = IsValidPixel(dst[x]) && IsValidPixel(d[x]) ? lev.Apply(p, dst[x] - d[x]) : BlankPixel;
  std::fill(dst + width, dst + w, BlankPixel);
}

// Reads image rows a .. b - 1 of every band frame into the worker's values and
// combines them into the target. A frame whose rows cannot be read is marked.
void CombineRows(const TStackRun& run, std::span<const TBandFrame> frames, const TPlaneFigures& level, int32_t a,
                 int32_t b, TWorkerBuffers& buf, std::vector<std::atomic<uint8_t>>& failed) {
  const int32_t W = run.W, H = run.H, rows = b - a;
  const size_t n = frames.size();
  const size_t rowValues = size_t(W);
  buf.Values.resize(size_t(run.P) * n * size_t(rows) * rowValues);
  auto rowOf = [&](int p, size_t f, int32_t j) {
    return buf.Values.data() + ((size_t(p - 1) * n + f) * size_t(rows) + size_t(j)) * rowValues;
  };
  const bool flip = Options.FitsFlip != 0;
  // File rows of image rows a .. b - 1: the same rows counted from the top or the bottom.
  const int64_t fileFirst = flip ? a : H - b;
  for (size_t f = 0; f < n; ++f) {
    const TFitsImageLayout& l = *frames[f].File->Layout;
    for (int p = 1; p <= run.P; ++p) {
      if (p > l.PlanesInFile) {
        std::fill_n(rowOf(p, f, 0), size_t(rows) * rowValues, BlankPixel);
        continue;
      }
      buf.Raw.resize(size_t(rows) * size_t(l.RowBytes));
      const uint64_t at = l.DataOffset + uint64_t(p - 1) * l.PlaneBytes + uint64_t(fileFirst) * l.RowBytes;
      if (!frames[f].File->Input.ReadAt(at, buf.Raw)) {
        failed[f] = 1;
        break;
      }
      for (int32_t j = 0; j < rows; ++j) {
        const int64_t fileRow = flip ? a + j : H - 1 - (a + j);
        DecodeFrameRow(frames[f], p, buf.Raw.data() + size_t(fileRow - fileFirst) * size_t(l.RowBytes), W, a + j,
                       run.Dark, rowOf(p, f, j));
      }
    }
  }
  TImageSlot& target = Store.Image[size_t(run.Target)];
  std::vector<const float*> rowsOf(n);
  for (int p = 1; p <= run.P; ++p)
    for (int32_t j = 0; j < rows; ++j) {
      for (size_t f = 0; f < n; ++f) rowsOf[f] = rowOf(p, f, j);
      CombineStackPixels(run.Options.Method, rowsOf, W, level[size_t(p)], target.Row(p, a + j).data(), Sse2Enabled);
    }
}

// Opens frame i's file for this band; false (the frame left out, said once)
// when it no longer holds an image of the first frame's shape.
bool OpenBandFrame(TStackRun& run, int i, TFitsDecoderCache& decoders, TBandFrame& f) {
  const std::string& name = SeriesFileList[size_t(i)];
  f.Index = i;
  f.File = std::make_unique<TFitsFile>();
  if (!OpenFitsFile(name, *f.File) || !f.File->Layout || TFrameShape::Of(*f.File->Layout) != run.FirstShape) {
    run.LeaveOut(i, FileOpenErrorText(name));
    return false;
  }
  f.Decoder = &decoders.For(*f.File);
  f.Levelling = run.LevellingOf(i, run.P);
  return true;
}

// Each frame's levels, from frame 1 on (frame 0 is the target's image); a frame
// that is missing, unreadable or of another shape is left out with its message.
void MeasureFrameLevels(TStackRun& run) {
  run.FrameLevel[0] = run.L1;
  run.LevelPlanes[0] = uint8_t(run.P);
  std::vector<float> scratch;
  for (int i = 1; i < run.Count && !BatchAbort; ++i) {
    run.ShowProgress(0);
    EngineUi().ProcessMessages();
    const std::string& name = SeriesFileList[size_t(i)];
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) {
      run.LeaveOut(i, name + "\r\n" + " ist nicht vorhanden.");
      continue;
    }
    TFitsFile file;
    if (!OpenFitsFile(name, file)) {
      run.LeaveOut(i, FileOpenErrorText(name));
      continue;
    }
    if (!file.Layout) {
      run.LeaveOut(i, HeaderNotRecognisedText() + "\r\n" + name);
      continue;
    }
    if (TFrameShape::Of(*file.Layout) != run.FirstShape) {
      run.LeaveOut(i, OtherFrameShapeText(name));
      continue;
    }
    for (int p = 1; p <= run.P && !run.LeftOut[size_t(i)]; ++p) {
      const std::optional<float> level = FitsPlaneLevel(file, p, run.Q, *run.Pool, scratch);
      if (!level) run.LeaveOut(i, FileOpenErrorText(name));
      else run.FrameLevel[size_t(i)][size_t(p)] = *level;
    }
    run.LevelPlanes[size_t(i)] = uint8_t(run.P);
  }
}

}  // namespace

bool StackFramesReadAsFits(const TStackRun& run) {
  if (!StackFitsRows || BatchMarkCount > 0 || BatchVideoInput) return false;
  // Colour frames loaded as YUV are converted by the loader.
  if (Options.YuvLoad && run.P > 1) return false;
  for (int i = 0; i < run.Count; ++i)
    if (!LoadsAsFits(SeriesFileList[size_t(i)])) return false;
  return true;
}

TStackBands StackBandsFromFits(TStackRun& run) {
  MeasureFrameLevels(run);
  if (run.Combined() < 3) return TStackBands::TooFew;
  if (BatchAbort) return TStackBands::Done;

  const int32_t W = run.W, H = run.H;
  const int threads = run.Pool->Threads();
  // Beside the buffered rows: each worker's raw rows (at most a row of 8-byte
  // samples per buffered row) and the plane a 32-bit file's levels were measured in.
  const uint64_t perRowValues = uint64_t(W) * uint64_t(run.P) * uint64_t(run.Count) * sizeof(float);
  const int32_t bandRows = run.BandRows(uint64_t(W) * uint64_t(H) * sizeof(float) + uint64_t(threads) * (1u << 20));
  // Rows per item: a few megabytes of values, and all workers together within the band's rows.
  const int32_t itemRows = int32_t(std::clamp<uint64_t>(
      std::min<uint64_t>(WorkerValueBytes / std::max<uint64_t>(perRowValues, 1), uint64_t(bandRows) / threads), 1,
      uint64_t(H)));
  // Where the band's rows do not reach one item per worker, fewer workers run.
  std::unique_ptr<TWorkerPool> fewer;
  TWorkerPool* pool = run.Pool;
  if (int64_t(itemRows) * threads > bandRows) {
    fewer = std::make_unique<TWorkerPool>(std::max(1, bandRows / itemRows));
    pool = fewer.get();
  }
  std::vector<TWorkerBuffers> buffers(size_t(pool->Threads()));
  TFitsDecoderCache decoders;
  std::atomic<int64_t> rowsDone{0};
  auto progress = [&] {
    run.ShowProgress(int(std::nearbyint(100.0 * double(rowsDone.load()) / H)));
    EngineUi().ProcessMessages();
  };

  const int32_t step = std::max(bandRows, itemRows);
  for (int32_t r0 = 0; r0 < H && !BatchAbort;) {
    const int32_t r1 = std::min(r0 + step, H);
    std::vector<TBandFrame> frames;
    for (int i = 0; i < run.Count; ++i) {
      if (run.LeftOut[size_t(i)]) continue;
      TBandFrame f;
      if (OpenBandFrame(run, i, decoders, f)) frames.push_back(std::move(f));
    }
    if (run.Combined() < 3) return TStackBands::TooFew;
    const TPlaneFigures level = run.MedianLevelDifference();
    std::vector<std::atomic<uint8_t>> failed(frames.size());
    const int64_t items = (int64_t(r1 - r0) + itemRows - 1) / itemRows;
    const int64_t before = rowsDone;
    try {
      pool->Run(
          items,
          [&](int64_t k, int worker) {
            if (BatchAbort) return;
            const int32_t a = r0 + int32_t(k) * itemRows, b = std::min(a + itemRows, r1);
            CombineRows(run, frames, level, a, b, buffers[size_t(worker)], failed);
            rowsDone += b - a;
          },
          progress);
    } catch (const std::bad_alloc&) {
      return TStackBands::NoMemory;
    }
    // A frame that could not be read is left out and the band made again without it.
    bool again = false;
    for (size_t f = 0; f < frames.size(); ++f)
      if (failed[f]) {
        run.LeaveOut(frames[f].Index, FileOpenErrorText(SeriesFileList[size_t(frames[f].Index)]));
        again = true;
      }
    if (again) {
      rowsDone = before;
      continue;
    }
    r0 = r1;
  }
  return TStackBands::Done;
}

}  // namespace astrelon
