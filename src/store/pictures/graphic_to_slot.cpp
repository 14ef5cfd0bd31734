#include "store/pictures/graphic_to_slot.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "common/engine_ui.h"
#include "common/file_bytes.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/display/preview_sampler.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

size_t PictureWorkerThreshold = 4000000;

namespace {
// Pixels of each plane measured at once: the histogram's fixed cost per call is
// spread over many pixels also when rows are short.
constexpr size_t MeasuredPixels = 16384;
}  // namespace
void (*PictureMemoryHook)(size_t bytes) = nullptr;

namespace {

template <typename T>
constexpr T AlphaHalf = sizeof(T) == 1 ? T(128) : T(32768);

// One row of samples into the planes' rows: RGB(A) into out[1..3], a grey source
// into out[1] (and copies in out[2], out[3] when they are given); a pixel whose
// alpha (the last channel) is below half is blank.
template <typename T>
void RowToFloat(const T* s, size_t w, int ch, bool alpha, float* const out[4]) {
  if (ch >= 3) {
    float* r = out[1];
    float* g = out[2];
    float* b = out[3];
    if (!alpha) {
      for (size_t x = 0; x < w; ++x, s += ch) {
        r[x] = float(s[0]);
        g[x] = float(s[1]);
        b[x] = float(s[2]);
      }
    } else {
      for (size_t x = 0; x < w; ++x, s += ch) {
        const bool blank = s[ch - 1] < AlphaHalf<T>;
        r[x] = blank ? BlankPixel : float(s[0]);
        g[x] = blank ? BlankPixel : float(s[1]);
        b[x] = blank ? BlankPixel : float(s[2]);
      }
    }
    return;
  }
  float* v = out[1];
  if (!alpha) {
    for (size_t x = 0; x < w; ++x, s += ch) v[x] = float(s[0]);
  } else {
    for (size_t x = 0; x < w; ++x, s += ch) v[x] = s[ch - 1] < AlphaHalf<T> ? BlankPixel : float(s[0]);
  }
  for (int p = 2; p <= 3; ++p)
    if (out[p]) std::copy_n(v, w, out[p]);
}

// True when every pixel of an RGB(A) row that is not blank has red = green = blue.
template <typename T>
bool GreyRow(const T* s, size_t w, int ch, bool alpha) {
  unsigned diff = 0;
  if (!alpha) {
    for (size_t x = 0; x < w; ++x, s += ch) diff |= unsigned(s[0] ^ s[1]) | unsigned(s[2] ^ s[1]);
  } else {
    for (size_t x = 0; x < w; ++x, s += ch)
      if (s[ch - 1] >= AlphaHalf<T>) diff |= unsigned(s[0] ^ s[1]) | unsigned(s[2] ^ s[1]);
  }
  return diff == 0;
}

}  // namespace

void TPictureSink::TFigures::Merge(const TFigures& o) {
  for (size_t p = 1; p <= 3; ++p) Scans[p].Merge(o.Scans[p]);
  for (size_t p = 0; p < 3; ++p)
    for (size_t b = 1; b <= size_t(HistogramBins); ++b) Counts[p][b] += o.Counts[p][b];
  Grey = Grey && o.Grey;
}

// Batches of whole rows go to a pool of workers; each worker converts a batch
// into the planes at the batch's own rows, so the planes are the same whichever
// worker takes a batch, and its figures merge in any order.
struct TPictureSink::TPipe {
  struct TBatch {
    std::vector<unsigned char> Bytes;
    int32_t FirstRow = 0;
  };
  std::vector<std::thread> Workers;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<TBatch*> Ready;  // filled batches waiting for a worker
  std::deque<TBatch> Batches;  // owns every batch
  std::vector<TBatch*> Spare;
  TBatch* Current = nullptr;  // the batch being filled
  size_t InFlight = 0;        // batches handed out and not yet converted
  size_t MaxBatches = 6;
  bool Closing = false;
  std::exception_ptr Error;  // the first failure of a worker
};

TPictureSink::TPictureSink() = default;
TPictureSink::~TPictureSink() { Stop(); }

void TPictureSink::Stop() {
  if (!pipe_) return;
  TPipe& pipe = *pipe_;
  {
    std::lock_guard<std::mutex> lock(pipe.Mutex);
    if (pipe.Current && !pipe.Current->Bytes.empty()) pipe.Ready.push_back(pipe.Current);
    pipe.Current = nullptr;
    pipe.Closing = true;
  }
  pipe.Changed.notify_all();
  for (std::thread& t : pipe.Workers) t.join();
  if (pipe.Error && !workerError_) workerError_ = pipe.Error;
  pipe_.reset();
}

void TPictureSink::Abandon() {
  Stop();
  if (slot_ < 0) return;
  Store.InUse[slot_] = 0;
  Store.Image[slot_].FreePlanes();
}

void TPictureSink::ConvertRow(const unsigned char* raw, int32_t y, std::vector<uint16_t>& raw16, TFigures& f) {
  const size_t w = size_t(format_.Width);
  const int ch = format_.Channels;
  const bool alpha = format_.AlphaBlanks && (ch == 2 || ch == 4);
  TImageSlot& im = Store.Image[slot_];
  float* out[4] = {};
  for (int p = 1; p <= planes_; ++p) out[p] = im.Planes[size_t(p)].data() + size_t(y) * w;
  // The grey test stops at the first coloured row this caller sees.
  const bool testGrey = ch >= 3 && !keepColour_ && f.Grey;
  if (format_.BitDepth == 16) {
    std::memcpy(raw16.data(), raw, rawRowBytes_);
    RowToFloat(raw16.data(), w, ch, alpha, out);
    if (testGrey) f.Grey = GreyRow(raw16.data(), w, ch, alpha);
  } else {
    RowToFloat(raw, w, ch, alpha, out);
    if (testGrey) f.Grey = GreyRow(raw, w, ch, alpha);
  }
}

void TPictureSink::MeasureRows(int32_t y0, int32_t rows, TFigures& f) {
  const size_t w = size_t(format_.Width);
  TImageSlot& im = Store.Image[slot_];
  for (int p = 1; p <= planes_; ++p) {
    const std::span<float> written(im.Planes[size_t(p)].data() + size_t(y0) * w, size_t(rows) * w);
    ScanMinMax(written, format_.Width, rows, format_.Width, f.Scans[size_t(p)], vector_);
    CountHistogram(written, axis_, f.Counts[size_t(p - 1)], vector_);
  }
}

bool TPictureSink::Begin(int slot, const TPictureFormat& format, bool keepColour) {
  if (sampler_) {
    format_ = format;
    rows_ = 0;
    return sampler_->Begin(format);
  }
  slot_ = slot;
  format_ = format;
  keepColour_ = keepColour;
  grey_ = !keepColour;
  rows_ = 0;
  measured_ = 0;
  figures_ = {};
  axis_ = LoadHistogramAxis(format.BitDepth == 16 ? 65535.0f : 255.0f);
  vector_ = Sse2Enabled;
  TImageSlot& im = Store.Image[slot];
  if (format.Width < 1 || format.Height < 1) {
    Store.InUse[slot] = 0;
    return false;
  }
  im.Width = format.Width;
  im.Height = format.Height;
  im.ColorModel = CmRgb;
  Store.InUse[slot] = 1;
  // A grey source fills one plane unless the caller keeps colour: the result is
  // the same as three equal planes of which two are dropped.
  planes_ = (format.Channels >= 3 || keepColour) ? 3 : 1;
  const size_t n = im.PixelCount();
  if (PictureMemoryHook) PictureMemoryHook(n * sizeof(float) * size_t(planes_));
  for (int p = 1; p <= 3; ++p) {
    TPlane& plane = im.Planes[size_t(p)];
    // Old planes go first; the new ones are not cleared, every row is written.
    if (p > planes_ || plane.capacity() != n) TPlane().swap(plane);
    if (p <= planes_) plane.resize(n);
  }
  im.PlaneCount = planes_;
  rawRowBytes_ = size_t(format.Width) * size_t(format.Channels) * (format.BitDepth == 16 ? 2 : 1);
  if (format.BitDepth == 16) raw16_.resize(rawRowBytes_ / 2);
  // Rows are measured in groups of about MeasuredPixels, and handed to workers in
  // batches of whole groups.
  measureRows_ = int32_t((MeasuredPixels + size_t(format.Width) - 1) / size_t(format.Width));
  batchRows_ = std::max<int32_t>(32, measureRows_);
  const unsigned cores = std::thread::hardware_concurrency();
  if (n >= PictureWorkerThreshold && cores > 1) {
    pipe_ = std::make_unique<TPipe>();
    // The decoder keeps one core; up to four convert.
    const int workers = int(std::clamp<unsigned>(cores - 1, 1, 4));
    pipe_->MaxBatches = size_t(2 * workers + 2);
    try {
      pipe_->Workers.reserve(size_t(workers));
      for (int k = 0; k < workers; ++k) pipe_->Workers.push_back(StartBandThread([this] { RunWorker(); }));
    } catch (...) {
      // The system refused a thread: the workers that started do the work, or
      // the decoder's thread when none did.
    }
    if (pipe_->Workers.empty()) pipe_.reset();
  }
  return true;
}

void TPictureSink::RunWorker() {
  TPipe& pipe = *pipe_;
  TFigures mine;
  std::vector<uint16_t> raw16;
  // A failure is handed to the decoder's thread; the batches still coming are
  // dropped so that the decoder never waits for a worker that stopped.
  auto fail = [&pipe] {
    std::lock_guard<std::mutex> lock(pipe.Mutex);
    if (!pipe.Error) pipe.Error = std::current_exception();
  };
  try {
    const size_t bytes = format_.BitDepth == 16 ? rawRowBytes_ : 0;
    if (PictureMemoryHook) PictureMemoryHook(bytes);
    raw16.resize(bytes / 2);
  } catch (...) {
    fail();
  }
  std::unique_lock<std::mutex> lock(pipe.Mutex);
  for (;;) {
    pipe.Changed.wait(lock, [&] { return !pipe.Ready.empty() || pipe.Closing; });
    if (pipe.Ready.empty()) break;
    TPipe::TBatch* batch = pipe.Ready.front();
    pipe.Ready.pop_front();
    const bool convert = !pipe.Error;
    lock.unlock();
    if (convert) {
      try {
        const int32_t first = batch->FirstRow;
        const int32_t rows = int32_t(batch->Bytes.size() / rawRowBytes_);
        for (int32_t done = 0; done < rows;) {
          const int32_t group = std::min(measureRows_, rows - done);
          for (int32_t r = done; r < done + group; ++r)
            ConvertRow(batch->Bytes.data() + size_t(r) * rawRowBytes_, first + r, raw16, mine);
          MeasureRows(first + done, group, mine);
          done += group;
        }
      } catch (...) {
        fail();
      }
    }
    lock.lock();
    batch->Bytes.clear();
    pipe.Spare.push_back(batch);
    --pipe.InFlight;
    pipe.Changed.notify_all();
  }
  figures_.Merge(mine);
}

void TPictureSink::PutRaw(const unsigned char* raw) {
  if (rows_ >= format_.Height) return;
  const int32_t y = rows_++;
  if (sampler_) {
    sampler_->PutRow(raw, y);
    return;
  }
  if (!pipe_) {
    ConvertRow(raw, y, raw16_, figures_);
    // Measured while the rows are still in the cache.
    if (rows_ - measured_ >= measureRows_ || rows_ == format_.Height) {
      MeasureRows(measured_, rows_ - measured_, figures_);
      measured_ = rows_;
    }
    return;
  }
  TPipe& pipe = *pipe_;
  if (!pipe.Current) {
    std::unique_lock<std::mutex> lock(pipe.Mutex);
    pipe.Changed.wait(lock, [&] { return pipe.InFlight < pipe.MaxBatches || pipe.Error; });
    if (pipe.Error) std::rethrow_exception(pipe.Error);
    TPipe::TBatch* batch = nullptr;
    if (pipe.Spare.empty()) {
      pipe.Batches.emplace_back();
      batch = &pipe.Batches.back();
    } else {
      batch = pipe.Spare.back();
      pipe.Spare.pop_back();
    }
    lock.unlock();
    // A batch whose memory cannot be had stays with the others, unused.
    if (PictureMemoryHook) PictureMemoryHook(rawRowBytes_ * size_t(batchRows_));
    batch->Bytes.reserve(rawRowBytes_ * size_t(batchRows_));
    lock.lock();
    ++pipe.InFlight;
    lock.unlock();
    pipe.Current = batch;
    batch->FirstRow = y;
  }
  std::vector<unsigned char>& bytes = pipe.Current->Bytes;
  bytes.insert(bytes.end(), raw, raw + rawRowBytes_);
  if (bytes.size() >= rawRowBytes_ * size_t(batchRows_)) {
    {
      std::lock_guard<std::mutex> lock(pipe.Mutex);
      pipe.Ready.push_back(pipe.Current);
    }
    pipe.Current = nullptr;
    pipe.Changed.notify_one();
  }
}

void TPictureSink::PutRow(const uint8_t* samples) { PutRaw(samples); }
void TPictureSink::PutRow(const uint16_t* samples) { PutRaw(reinterpret_cast<const unsigned char*>(samples)); }

bool TPictureSink::Finish() {
  Stop();
  if (sampler_) return rows_ >= format_.Height;
  if (workerError_) {
    Abandon();
    std::rethrow_exception(workerError_);
  }
  TImageSlot& im = Store.Image[slot_];
  if (rows_ < format_.Height) {  // a decoder stopped early
    Store.InUse[slot_] = 0;
    im.FreePlanes();
    return false;
  }
  raw16_ = {};
  // Every row was tested (RGB sources without keepColour only).
  if (format_.Channels >= 3 && !figures_.Grey) grey_ = false;
  const bool sixteen = format_.BitDepth == 16;
  // 16-bit pictures keep their colour type; 8-bit pictures are grey when every
  // pixel has red = green = blue (and the caller did not keep colour).
  const bool colour = planes_ == 3 && (sixteen || !grey_);
  if (!colour && planes_ == 3) im.AllocatePlanes(1);
  im.IsColor = colour ? 1 : 0;
  im.PlaneCount = colour ? 3 : 1;
  im.NumberedName = 0;
  MakeDefaultHeader(slot_);
  // The planes were measured as they were filled: plane 1 alone for a grey picture.
  SetMinMaxFromScans(slot_, figures_.Scans);
  ResetDisplayRangeMeasured(slot_, sixteen ? 65535.0f : 255.0f);
  ComputeHistogramCounted(slot_, axis_, figures_.Counts);
  return true;
}

namespace {
void FreeAfterFailure(TPictureSink& sink, int slot) {
  sink.Stop();
  Store.InUse[slot] = 0;
  Store.Image[slot].FreePlanes();
}
}  // namespace

bool GraphicToSlot(const TPicture& picture, int slot, bool keepColour) {
  const TPictureFormat& f = picture.Format;
  const size_t need = size_t(std::max(f.Width, 0)) * size_t(std::max(f.Height, 0)) * size_t(std::max(f.Channels, 0));
  if ((f.BitDepth == 16 ? picture.Samples16.size() : picture.Samples8.size()) < need || f.Channels < 1 ||
      f.Channels > 4) {
    Store.InUse[slot] = 0;
    return false;
  }
  TPictureSink sink;
  try {
    if (!sink.Begin(slot, f, keepColour)) return false;
    const size_t rowSamples = size_t(f.Width) * size_t(f.Channels);
    for (int32_t y = 0; y < f.Height; ++y) {
      if (f.BitDepth == 16) sink.PutRow(picture.Samples16.data() + size_t(y) * rowSamples);
      else sink.PutRow(picture.Samples8.data() + size_t(y) * rowSamples);
    }
    return sink.Finish();
  } catch (...) {
    FreeAfterFailure(sink, slot);
    throw;
  }
}

bool LoadPictureFile(int slot, const std::string& fileName, TPictureDecoder decode) {
  std::vector<uint8_t> data;
  TPictureSink sink;
  try {
    if (ReadFileBytes(fileName, data) && decode(data, slot, sink)) {
      data = {};
      return sink.Finish();
    }
  } catch (...) {
    FreeAfterFailure(sink, slot);
    throw;
  }
  FreeAfterFailure(sink, slot);
  EngineUi().ShowMessage(FileOpenErrorText(fileName));
  return false;
}

}  // namespace astrelon
