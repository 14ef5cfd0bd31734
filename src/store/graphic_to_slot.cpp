#include "store/graphic_to_slot.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "shell/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Sizes a plane for n values without writing them: the rows are appended.
void PreparePlane(std::vector<float>& plane, size_t n) {
  plane.clear();
  if (plane.capacity() != n) std::vector<float>().swap(plane);
  plane.reserve(n);
}

template <typename T>
constexpr T AlphaHalf = sizeof(T) == 1 ? T(128) : T(32768);

// True when every pixel of an RGB(A) row has red = green = blue.
template <typename T>
bool GreyRow(const T* s, size_t w, int ch) {
  unsigned diff = 0;
  for (size_t x = 0; x < w; ++x, s += ch) diff |= unsigned(s[0] ^ s[1]) | unsigned(s[2] ^ s[1]);
  return diff == 0;
}

// Channel c of a row as floats.
template <typename T>
void ChannelToFloat(const T* __restrict s, size_t w, int ch, int c, float* __restrict out) {
  for (size_t x = 0; x < w; ++x) out[x] = float(s[x * size_t(ch) + size_t(c)]);
}

// Converts one row into the row buffers (one per plane) and tells whether every
// pixel written had red = green = blue (tested only while checkGrey). A pixel
// whose alpha is below half is blank in every plane and does not count for it.
template <typename T>
bool ConvertRow(const TPictureFormat& f, int planes, const T* s, float* r, float* g, float* b, bool checkGrey) {
  const size_t w = size_t(f.Width);
  const int ch = f.Channels;
  const bool alpha = f.AlphaBlanks && (ch == 2 || ch == 4);
  if (!alpha) {
    ChannelToFloat(s, w, ch, 0, r);
    if (planes == 1) return true;
    if (ch < 3) {  // grey source into three planes
      std::copy_n(r, w, g);
      std::copy_n(r, w, b);
      return true;
    }
    ChannelToFloat(s, w, ch, 1, g);
    ChannelToFloat(s, w, ch, 2, b);
    return !checkGrey || GreyRow(s, w, ch);
  }
  bool grey = true;
  for (size_t x = 0; x < w; ++x, s += ch) {
    const bool blank = s[ch - 1] < AlphaHalf<T>;
    r[x] = blank ? BlankPixel : float(s[0]);
    if (planes == 1) continue;
    if (ch < 3) {
      g[x] = b[x] = r[x];
      continue;
    }
    g[x] = blank ? BlankPixel : float(s[1]);
    b[x] = blank ? BlankPixel : float(s[2]);
    if (!blank && (s[0] != s[1] || s[2] != s[1])) grey = false;
  }
  return grey;
}

}  // namespace

struct TPictureSink::TPipe {
  static constexpr size_t RowsPerBatch = 32;
  static constexpr size_t MaxBatches = 4;
  std::thread Worker;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::vector<unsigned char>> Full;  // batches waiting for the worker, in row order
  std::vector<std::vector<unsigned char>> Spare;
  std::vector<unsigned char> Current;  // the batch being filled
  size_t InFlight = 0;                 // batches handed out and not yet returned
  bool Closing = false;
};

TPictureSink::TPictureSink() = default;
TPictureSink::~TPictureSink() { Stop(); }

void TPictureSink::Stop() {
  if (!pipe_) return;
  {
    std::lock_guard<std::mutex> lock(pipe_->Mutex);
    if (!pipe_->Current.empty()) {
      pipe_->Full.push_back(std::move(pipe_->Current));
      pipe_->Current.clear();
    }
    pipe_->Closing = true;
  }
  pipe_->Changed.notify_all();
  pipe_->Worker.join();
  pipe_.reset();
}

void TPictureSink::Convert(const unsigned char* rawRow) {
  if (format_.BitDepth == 16) {
    // The batch holds bytes; the samples are copied out as 16-bit numbers.
    std::memcpy(raw16_.data(), rawRow, rawRowBytes_);
    Put(raw16_.data());
  } else {
    Put(rawRow);
  }
}

bool TPictureSink::Begin(int slot, const TPictureFormat& format, bool keepColour) {
  slot_ = slot;
  format_ = format;
  keepColour_ = keepColour;
  grey_ = !keepColour;
  rows_ = 0;
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
    else std::vector<float>().swap(im.Planes[p]);
  }
  im.PlaneCount = planes_;
  row_.resize(size_t(format.Width) * size_t(planes_));
  rawRowBytes_ = size_t(format.Width) * size_t(format.Channels) * (format.BitDepth == 16 ? 2 : 1);
  if (n >= 4000000 && std::thread::hardware_concurrency() > 1) {
    if (format.BitDepth == 16) raw16_.resize(rawRowBytes_ / 2);
    pipe_ = std::make_unique<TPipe>();
    TPipe& pipe = *pipe_;
    pipe.Worker = std::thread([this, &pipe] {
      std::unique_lock<std::mutex> lock(pipe.Mutex);
      for (;;) {
        pipe.Changed.wait(lock, [&] { return !pipe.Full.empty() || pipe.Closing; });
        if (pipe.Full.empty()) return;
        std::vector<unsigned char> batch = std::move(pipe.Full.front());
        pipe.Full.pop_front();
        lock.unlock();
        for (size_t o = 0; o + rawRowBytes_ <= batch.size(); o += rawRowBytes_) Convert(batch.data() + o);
        batch.clear();
        lock.lock();
        pipe.Spare.push_back(std::move(batch));
        --pipe.InFlight;
        pipe.Changed.notify_all();
      }
    });
  }
  return true;
}

template <typename T>
void TPictureSink::Put(const T* samples) {
  if (rows_ >= format_.Height) return;
  TImageSlot& im = Store.Image[slot_];
  const size_t w = size_t(format_.Width);
  float* r = row_.data();
  float* g = planes_ == 3 ? r + w : nullptr;
  float* b = planes_ == 3 ? r + 2 * w : nullptr;
  if (!ConvertRow(format_, planes_, samples, r, g, b, grey_)) grey_ = false;
  im.Planes[1].insert(im.Planes[1].end(), r, r + w);
  if (planes_ == 3) {
    im.Planes[2].insert(im.Planes[2].end(), g, g + w);
    im.Planes[3].insert(im.Planes[3].end(), b, b + w);
  }
  ++rows_;
}

void TPictureSink::PutRow(const uint8_t* samples) {
  if (!pipe_) return Put(samples);
  TPipe& pipe = *pipe_;
  if (pipe.Current.empty()) {
    std::unique_lock<std::mutex> lock(pipe.Mutex);
    pipe.Changed.wait(lock, [&] { return pipe.InFlight < TPipe::MaxBatches; });
    ++pipe.InFlight;
    if (!pipe.Spare.empty()) {
      pipe.Current = std::move(pipe.Spare.back());
      pipe.Spare.pop_back();
    }
    lock.unlock();
    pipe.Current.reserve(rawRowBytes_ * TPipe::RowsPerBatch);
  }
  pipe.Current.insert(pipe.Current.end(), samples, samples + rawRowBytes_);
  if (pipe.Current.size() >= rawRowBytes_ * TPipe::RowsPerBatch) {
    {
      std::lock_guard<std::mutex> lock(pipe.Mutex);
      pipe.Full.push_back(std::move(pipe.Current));
    }
    pipe.Current.clear();
    pipe.Changed.notify_all();
  }
}

void TPictureSink::PutRow(const uint16_t* samples) {
  if (!pipe_) return Put(samples);
  PutRow(reinterpret_cast<const uint8_t*>(samples));
}

bool TPictureSink::Finish() {
  Stop();
  TImageSlot& im = Store.Image[slot_];
  if (rows_ < format_.Height) {  // a decoder stopped early
    Store.InUse[slot_] = 0;
    im.FreePlanes();
    return false;
  }
  row_ = {};
  const bool sixteen = format_.BitDepth == 16;
  // 16-bit pictures keep their colour type; 8-bit pictures are grey when every
  // pixel has red = green = blue (and the caller did not keep colour).
  const bool colour = planes_ == 3 && (sixteen || !grey_);
  if (!colour && planes_ == 3) im.AllocatePlanes(1);
  im.IsColor = colour ? 1 : 0;
  im.PlaneCount = colour ? 3 : 1;
  im.NumberedName = 0;
  MakeDefaultHeader(slot_);
  ResetDisplayRange(slot_, sixteen ? 65535.0f : 255.0f);
  ComputeHistogram(slot_, false, false);
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

}  // namespace astrelon
