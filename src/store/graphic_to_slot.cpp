#include "store/graphic_to_slot.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "common/engine_ui.h"
#include "shell/display_histogram.h"
#include "store/header_cards.h"
#include "store/file_bytes.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/plane_routines.h"
#include "store/processor_features.h"

namespace astrelon {

size_t PictureWorkerThreshold = 4000000;

namespace {

// Sizes a plane for n values without writing them: the rows are appended.
void PreparePlane(TPlane& plane, size_t n) {
  plane.clear();
  if (plane.capacity() != n) TPlane().swap(plane);
  plane.reserve(n);
}

template <typename T>
constexpr T AlphaHalf = sizeof(T) == 1 ? T(128) : T(32768);

// Channel c of a row as floats; with alpha (the last channel) below half: blank.
template <typename T>
void ChannelToFloat(const T* s, size_t w, int ch, int c, bool alpha, float* out) {
  if (!alpha) {
    for (size_t x = 0; x < w; ++x, s += ch) out[x] = float(s[c]);
  } else {
    for (size_t x = 0; x < w; ++x, s += ch) out[x] = s[ch - 1] < AlphaHalf<T> ? BlankPixel : float(s[c]);
  }
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

struct TPictureSink::TPipe {
  static constexpr size_t RowsPerBatch = 32;
  static constexpr size_t MaxBatches = 6;
  struct TBatch {
    std::vector<unsigned char> Bytes;
    int Pending = 0;  // workers still to convert it
  };
  std::vector<std::thread> Workers;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<std::deque<TBatch*>> Queues;  // one per plane, batches in row order
  std::deque<TBatch> Batches;               // owns every batch
  std::vector<TBatch*> Spare;
  TBatch* Current = nullptr;                // the batch being filled
  size_t InFlight = 0;                      // batches handed out and not yet converted by all
  bool Closing = false;
  bool Grey = true;                         // written by the worker of plane 1
};

TPictureSink::TPictureSink() = default;
TPictureSink::~TPictureSink() { Stop(); }

void TPictureSink::Stop() {
  if (!pipe_) return;
  TPipe& pipe = *pipe_;
  {
    std::lock_guard<std::mutex> lock(pipe.Mutex);
    if (pipe.Current && !pipe.Current->Bytes.empty()) {
      pipe.Current->Pending = planes_;
      for (auto& q : pipe.Queues) q.push_back(pipe.Current);
    }
    pipe.Current = nullptr;
    pipe.Closing = true;
  }
  pipe.Changed.notify_all();
  for (std::thread& t : pipe.Workers) t.join();
  if (!pipe.Grey) grey_ = false;
  pipe_.reset();
}

bool TPictureSink::ConvertPlaneRow(int p, const unsigned char* raw, std::vector<float>& row,
                                   std::vector<uint16_t>& raw16, TMinMaxScan& scan) {
  const size_t w = size_t(format_.Width);
  const int ch = format_.Channels;
  const bool alpha = format_.AlphaBlanks && (ch == 2 || ch == 4);
  // A grey source fills every plane from its one channel.
  const int c = ch >= 3 ? p - 1 : 0;
  bool grey = true;
  if (format_.BitDepth == 16) {
    std::memcpy(raw16.data(), raw, rawRowBytes_);
    ChannelToFloat(raw16.data(), w, ch, c, alpha, row.data());
    if (p == 1 && ch >= 3 && grey_) grey = GreyRow(raw16.data(), w, ch, alpha);
  } else {
    ChannelToFloat(raw, w, ch, c, alpha, row.data());
    if (p == 1 && ch >= 3 && grey_) grey = GreyRow(raw, w, ch, alpha);
  }
  TPlane& plane = Store.Image[slot_].Planes[p];
  const size_t at = plane.size();
  plane.insert(plane.end(), row.begin(), row.begin() + std::ptrdiff_t(w));
  // Minimum, maximum and histogram while the row is in the cache.
  const std::span<float> written = std::span<float>(plane).subspan(at, w);
  ScanMinMax(written, format_.Width, 1, format_.Width, scan, vector_);
  CountHistogram(written, axis_, counts_[size_t(p - 1)], vector_);
  return grey;
}

bool TPictureSink::Begin(int slot, const TPictureFormat& format, bool keepColour) {
  slot_ = slot;
  format_ = format;
  keepColour_ = keepColour;
  grey_ = !keepColour;
  rows_ = 0;
  scans_ = {};
  counts_ = {};
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
  for (int p = 1; p <= 3; ++p) {
    if (p <= planes_) PreparePlane(im.Planes[p], n);
    else TPlane().swap(im.Planes[p]);
  }
  im.PlaneCount = planes_;
  rawRowBytes_ = size_t(format.Width) * size_t(format.Channels) * (format.BitDepth == 16 ? 2 : 1);
  row_.resize(size_t(format.Width));
  if (format.BitDepth == 16) raw16_.resize(rawRowBytes_ / 2);
  if (n >= PictureWorkerThreshold && std::thread::hardware_concurrency() > 1) {
    pipe_ = std::make_unique<TPipe>();
    TPipe& pipe = *pipe_;
    pipe.Queues.resize(size_t(planes_));
    for (int p = 1; p <= planes_; ++p) {
      pipe.Workers.emplace_back([this, &pipe, p] {
        std::vector<float> row(size_t(format_.Width));
        std::vector<uint16_t> raw16(format_.BitDepth == 16 ? rawRowBytes_ / 2 : 0);
        bool grey = true;
        TMinMaxScan& scan = scans_[size_t(p)];  // this worker's alone until it is joined
        auto& queue = pipe.Queues[size_t(p - 1)];
        std::unique_lock<std::mutex> lock(pipe.Mutex);
        for (;;) {
          pipe.Changed.wait(lock, [&] { return !queue.empty() || pipe.Closing; });
          if (queue.empty()) break;
          TPipe::TBatch* batch = queue.front();
          queue.pop_front();
          lock.unlock();
          for (size_t o = 0; o + rawRowBytes_ <= batch->Bytes.size(); o += rawRowBytes_)
            if (!ConvertPlaneRow(p, batch->Bytes.data() + o, row, raw16, scan)) grey = false;
          lock.lock();
          if (--batch->Pending == 0) {
            batch->Bytes.clear();
            pipe.Spare.push_back(batch);
            --pipe.InFlight;
            pipe.Changed.notify_all();
          }
        }
        if (p == 1) pipe.Grey = grey;
      });
    }
  }
  return true;
}

void TPictureSink::PutRaw(const unsigned char* raw) {
  if (rows_ >= format_.Height) return;
  ++rows_;
  if (!pipe_) {
    for (int p = 1; p <= planes_; ++p)
      if (!ConvertPlaneRow(p, raw, row_, raw16_, scans_[size_t(p)])) grey_ = false;
    return;
  }
  TPipe& pipe = *pipe_;
  if (!pipe.Current) {
    std::unique_lock<std::mutex> lock(pipe.Mutex);
    pipe.Changed.wait(lock, [&] { return pipe.InFlight < TPipe::MaxBatches; });
    ++pipe.InFlight;
    if (pipe.Spare.empty()) {
      pipe.Batches.emplace_back();
      pipe.Current = &pipe.Batches.back();
    } else {
      pipe.Current = pipe.Spare.back();
      pipe.Spare.pop_back();
    }
    lock.unlock();
    pipe.Current->Bytes.reserve(rawRowBytes_ * TPipe::RowsPerBatch);
  }
  std::vector<unsigned char>& bytes = pipe.Current->Bytes;
  bytes.insert(bytes.end(), raw, raw + rawRowBytes_);
  if (bytes.size() >= rawRowBytes_ * TPipe::RowsPerBatch) {
    {
      std::lock_guard<std::mutex> lock(pipe.Mutex);
      pipe.Current->Pending = planes_;
      for (auto& q : pipe.Queues) q.push_back(pipe.Current);
    }
    pipe.Current = nullptr;
    pipe.Changed.notify_all();
  }
}

void TPictureSink::PutRow(const uint8_t* samples) { PutRaw(samples); }
void TPictureSink::PutRow(const uint16_t* samples) { PutRaw(reinterpret_cast<const unsigned char*>(samples)); }

bool TPictureSink::Finish() {
  Stop();
  TImageSlot& im = Store.Image[slot_];
  if (rows_ < format_.Height) {  // a decoder stopped early
    Store.InUse[slot_] = 0;
    im.FreePlanes();
    return false;
  }
  row_ = {};
  raw16_ = {};
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
  SetMinMaxFromScans(slot_, scans_);
  ResetDisplayRangeMeasured(slot_, sixteen ? 65535.0f : 255.0f);
  ComputeHistogramCounted(slot_, axis_, counts_);
  return true;
}

bool GraphicToSlot(const TPicture& picture, int slot, bool keepColour) {
  const TPictureFormat& f = picture.Format;
  const size_t need = size_t(std::max(f.Width, 0)) * size_t(std::max(f.Height, 0)) * size_t(std::max(f.Channels, 0));
  if ((f.BitDepth == 16 ? picture.Samples16.size() : picture.Samples8.size()) < need || f.Channels < 1 ||
      f.Channels > 4) {
    Store.InUse[slot] = 0;
    return false;
  }
  TPictureSink sink;
  if (!sink.Begin(slot, f, keepColour)) return false;
  const size_t rowSamples = size_t(f.Width) * size_t(f.Channels);
  for (int32_t y = 0; y < f.Height; ++y) {
    if (f.BitDepth == 16) sink.PutRow(picture.Samples16.data() + size_t(y) * rowSamples);
    else sink.PutRow(picture.Samples8.data() + size_t(y) * rowSamples);
  }
  return sink.Finish();
}

bool LoadPictureFile(int slot, const std::string& fileName, TPictureDecoder decode) {
  std::vector<uint8_t> data;
  TPictureSink sink;
  if (ReadFileBytes(fileName, data) && decode(data, slot, sink)) {
    data = {};
    return sink.Finish();
  }
  sink.Stop();
  Store.InUse[slot] = 0;
  Store.Image[slot].FreePlanes();
  EngineUi().ShowMessage(FileOpenErrorText(fileName));
  return false;
}

}  // namespace astrelon
