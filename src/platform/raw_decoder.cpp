#include "platform/raw_decoder.h"

#include "platform/parallel_bands.h"

#include <libraw/libraw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>

namespace astrelon {

struct TRawDecoder::TOptions {
  bool CameraWb = false;
  bool Mosaic = false;   // -D or -d
  bool Scaled = false;   // -d
  bool Identify = false;
  bool Half = false;
  bool Unclipped = false;
  std::string File;
};

namespace {

// Stops a decode that runs longer than its limit (LibRaw polls the cancel flag
// inside its loops).
class TWatchdog {
public:
  TWatchdog(LibRaw& raw, int seconds) : thread_([this, &raw, seconds] {
      std::unique_lock lock(mutex_);
      if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) raw.setCancelFlag();
    }) {}
  ~TWatchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

struct TErrorFlags {
  bool DataError = false;
  bool MemoryError = false;
};

void OnDataError(void* data, const char*, const int) { static_cast<TErrorFlags*>(data)->DataError = true; }
void OnMemoryError(void* data, const char*, const char*) { static_cast<TErrorFlags*>(data)->MemoryError = true; }

int32_t MapLibRawError(int code, bool opening) {
  switch (code) {
    case LIBRAW_SUCCESS: return RawOk;
    case LIBRAW_FILE_UNSUPPORTED:
    case LIBRAW_REQUEST_FOR_NONEXISTENT_IMAGE:
    case LIBRAW_NOT_IMPLEMENTED: return RawUnsupported;
    case LIBRAW_IO_ERROR: return opening ? RawUnsupported : RawDamaged;  // the file itself was readable
    case LIBRAW_INPUT_CLOSED:
    case LIBRAW_DATA_ERROR: return RawDamaged;
    case LIBRAW_UNSUFFICIENT_MEMORY:
    case LIBRAW_TOO_BIG:
    case LIBRAW_MEMPOOL_OVERFLOW: return RawTooLarge;
    case LIBRAW_CANCELLED_BY_CALLBACK: return RawTimeout;
    default: return RawDecoderFailure;
  }
}

// Size of a readable regular file; -1 when it cannot be read.
int64_t FileBytes(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(name.c_str(), R_OK) != 0) return -1;
  return int64_t(st.st_size);
}

// No compression the decoder knows packs more than this many pixels into a byte.
constexpr int64_t MaxPixelsPerFileByte = 64;

// The white-balance multipliers a decode uses (dcraw's choice): the camera's
// when asked for and present, else the daylight ones; unset greens follow green.
std::array<double, 4> WhiteBalance(const libraw_data_t& d, bool cameraWb) {
  const auto& c = d.color;
  std::array<double, 4> m{};
  const bool camera = cameraWb && c.cam_mul[0] > 0 && c.cam_mul[2] > 0;
  for (int i = 0; i < 4; ++i) m[size_t(i)] = camera ? c.cam_mul[i] : c.pre_mul[i];
  if (!(m[0] > 0) || !(m[2] > 0)) m = {1, 1, 1, 1};
  if (!(m[1] > 0)) m[1] = 1;
  if (!(m[3] > 0)) m[3] = d.idata.colors < 4 ? m[1] : 1;
  return m;
}

// The decimal value a float of the decoder stands for (LibRaw keeps 1/125 s as
// the float nearest to it; its shortest decimal text is 0.008).
double FloatValue(float v) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, v).ptr;
  double d = v;
  std::from_chars(text, end, d);
  return d;
}

}  // namespace

TRawDecoder::TRawDecoder() : raw_(std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE)) {}

TRawDecoder::~TRawDecoder() = default;

void TRawDecoder::freeimage() {
  raw_->recycle();
  mosaic_.reset();
  buffer_ = nullptr;
  pedestal_ = 0;
}

const uint16_t* TRawDecoder::loadRaw(int argc, const char* const* argv, int) {
  freeimage();
  meta_ = TRawMetaData{};
  TOptions o;
  for (int i = 0; i < argc && argv && argv[i]; ++i) {
    const std::string_view a = argv[i];
    if (a == "-c") continue;
    if (a == "-w") o.CameraWb = true;
    else if (a == "-D") o.Mosaic = true, o.Scaled = false;
    else if (a == "-d") o.Mosaic = true, o.Scaled = true;
    else if (a == "-i") o.Identify = true;
    else if (a == "-h") o.Half = true;
    else if (a == "-x") o.Unclipped = true;
    else if (!a.empty() && a[0] != '-') o.File = a;
  }
  if (o.File.empty()) {
    error_ = RawNoFile;
    return nullptr;
  }
  try {
    error_ = Decode(o);
  } catch (const std::bad_alloc&) {
    error_ = RawTooLarge;
  } catch (...) {
    error_ = RawDecoderFailure;
  }
  if (error_ != RawOk) {
    freeimage();
    meta_ = TRawMetaData{};
    return nullptr;
  }
  return buffer_;
}

int32_t TRawDecoder::Decode(const TOptions& o) {
  LibRaw& r = *raw_;
  auto& p = r.imgdata.params;
  p.use_camera_wb = o.CameraWb ? 1 : 0;
  p.half_size = o.Half ? 1 : 0;
  p.highlight = o.Unclipped ? 2 : 0;
  p.output_bps = 16;
  p.gamm[0] = p.gamm[1] = 1.0;
  p.no_auto_bright = 1;
  p.output_color = 1;  // sRGB primaries
  TErrorFlags flags;
  r.set_dataerror_handler(OnDataError, &flags);
  r.set_memerror_handler(OnMemoryError, &flags);

  const int64_t fileBytes = FileBytes(o.File);
  if (fileBytes <= 0) return RawNoFile;
  {
    TWatchdog watchdog(r, UnpackSeconds);
    int rc = r.open_file(o.File.c_str());
    if (rc != LIBRAW_SUCCESS) return MapLibRawError(rc, true);
    const auto& s = r.imgdata.sizes;
    if (s.width < 1 || s.height < 1 || s.raw_width < s.width || s.raw_height < s.height)
      return RawDamaged;
    if (int64_t(s.raw_width) * s.raw_height > fileBytes * MaxPixelsPerFileByte) return RawTooLarge;
    if (o.Identify) {
      FillMetaData(o.Half);
      return RawOk;
    }
    rc = r.unpack();
    if (rc != LIBRAW_SUCCESS) return MapLibRawError(rc, false);
    if (flags.DataError) return RawDamaged;
    if (flags.MemoryError) return RawTooLarge;
  }
  if (o.Mosaic) {
    BuildMosaic(o.Scaled, o.Half, o.Unclipped);
    pedestal_ = o.Scaled ? RawPedestal : 0;
  } else {
    TWatchdog watchdog(r, ProcessSeconds);
    const int rc = r.dcraw_process();
    if (rc != LIBRAW_SUCCESS) return MapLibRawError(rc, false);
    if (flags.DataError) return RawDamaged;
    if (flags.MemoryError) return RawTooLarge;
    buffer_ = &r.imgdata.image[0][0];
    pedestal_ = 0;
  }
  if (!buffer_) return RawDecoderFailure;
  FillMetaData(o.Half);
  if (o.Mosaic) {
    const auto& s = r.imgdata.sizes;
    meta_.Width = o.Half ? (s.width + 1) / 2 : s.width;
    meta_.Height = o.Half ? (s.height + 1) / 2 : s.height;
    if (!r.imgdata.rawdata.raw_image) meta_.Width = s.iwidth, meta_.Height = s.iheight;
  } else {
    meta_.Width = r.imgdata.sizes.iwidth;
    meta_.Height = r.imgdata.sizes.iheight;
  }
  return RawOk;
}

void TRawDecoder::BuildMosaic(bool scaled, bool half, bool unclipped) {
  LibRaw& r = *raw_;
  const auto& d = r.imgdata;
  const auto& s = d.sizes;
  const auto& c = d.color;

  // Per-colour black and scale of a "-d" decode.
  std::array<double, 4> black{}, scale{1, 1, 1, 1};
  if (scaled) {
    const std::array<double, 4> wb = WhiteBalance(d, true);
    const double lo = *std::min_element(wb.begin(), wb.end());
    const double hi = *std::max_element(wb.begin(), wb.end());
    const double norm = unclipped ? hi : lo;
    const double range = double(c.maximum) - double(c.black);
    for (size_t i = 0; i < 4; ++i) {
      black[i] = double(c.black) + double(c.cblack[i]);
      scale[i] = range > 0 ? wb[i] / norm * 65535.0 / range : 1.0;
    }
  }
  const unsigned patternRows = c.cblack[4], patternCols = c.cblack[5];
  const bool pattern = scaled && patternRows > 0 && patternCols > 0 && patternRows * patternCols <= 4096 - 6;
  auto convert = [&](unsigned v, int colour, int row, int col) -> uint16_t {
    if (!scaled) return uint16_t(v);
    double b = black[size_t(colour & 3)];
    if (pattern) b += c.cblack[6 + unsigned(row) % patternRows * patternCols + unsigned(col) % patternCols];
    const double x = (double(v) - b) * scale[size_t(colour & 3)] + RawPedestal;
    return uint16_t(std::clamp(std::nearbyint(x), 0.0, 65535.0));
  };

  const uint16_t* raw = d.rawdata.raw_image;
  if (!raw) {
    // Not a one-sample mosaic (a linear or three-colour raw): its colour planes.
    if (r.raw2image() != LIBRAW_SUCCESS || !d.image) throw std::runtime_error("raw2image");
    const size_t n = size_t(s.iwidth) * s.iheight;
    mosaic_ = std::make_unique_for_overwrite<uint16_t[]>(n * 4);
    for (size_t i = 0; i < n; ++i)
      for (int k = 0; k < 4; ++k)
        mosaic_[i * 4 + size_t(k)] = convert(d.image[i][k], k, int(i / s.iwidth), int(i % s.iwidth));
    buffer_ = mosaic_.get();
    return;
  }

  const size_t pitch = s.raw_pitch / 2;
  const int w = s.width, h = s.height;
  const bool bayer = d.idata.filters >= 1000;
  auto colourAt = [&](int row, int col) { return bayer ? r.FC(row, col) : r.COLOR(row, col); };
  if (!half) {
    mosaic_ = std::make_unique_for_overwrite<uint16_t[]>(size_t(w) * size_t(h) * 4);
    ForEachBand(h, BandThreads(int64_t(w) * h, int64_t(1) << 19, true) , [&](int64_t first, int64_t last) {
      for (int y = int(first); y < int(last); ++y) {
        const uint16_t* src = raw + size_t(y + s.top_margin) * pitch + s.left_margin;
        uint16_t* dst = mosaic_.get() + size_t(y) * size_t(w) * 4;
        const int c0 = colourAt(y, 0), c1 = colourAt(y, 1);
        for (int x = 0; x < w; ++x, dst += 4) {
          const int colour = bayer ? ((x & 1) ? c1 : c0) : colourAt(y, x);
          dst[0] = scaled ? convert(src[x], colour, y, x) : src[x];
          dst[1] = dst[2] = dst[3] = 0;
        }
      }
    });
  } else {
    // Each 2 x 2 block gives one pixel holding every site in its colour's channel.
    const int hw = (w + 1) / 2, hh = (h + 1) / 2;
    const size_t n = size_t(hw) * size_t(hh) * 4;
    mosaic_ = std::make_unique_for_overwrite<uint16_t[]>(n);
    std::fill_n(mosaic_.get(), n, uint16_t(0));
    for (int y = 0; y < h; ++y) {
      const uint16_t* src = raw + size_t(y + s.top_margin) * pitch + s.left_margin;
      uint16_t* dst = mosaic_.get() + size_t(y / 2) * size_t(hw) * 4;
      for (int x = 0; x < w; ++x) {
        const int colour = colourAt(y, x);
        dst[size_t(x / 2) * 4 + size_t(colour & 3)] = convert(src[x], colour, y, x);
      }
    }
  }
  buffer_ = mosaic_.get();
}

void TRawDecoder::FillMetaData(bool half) {
  const auto& d = raw_->imgdata;
  meta_.Width = d.sizes.width;
  meta_.Height = d.sizes.height;
  meta_.TimeStamp = d.other.timestamp > 0 ? int64_t(d.other.timestamp) : -1;
  meta_.FilterPattern = d.idata.filters;
  meta_.Shrink = half ? 1 : 0;
  meta_.Valid = 1;
  meta_.BlackLevel = int32_t(d.color.black);
  meta_.Iso = FloatValue(d.other.iso_speed);
  meta_.ExposureTime = FloatValue(d.other.shutter);
  meta_.Aperture = FloatValue(d.other.aperture);
  meta_.FocalLength = FloatValue(d.other.focal_len);
  multipliers_ = WhiteBalance(d, true);
  const double lo = *std::min_element(multipliers_.begin(), multipliers_.end());
  for (double& m : multipliers_) m /= lo;
  meta_.Multipliers = multipliers_.data();
  for (size_t row = 0; row < 3; ++row) {
    for (size_t col = 0; col < 4; ++col) matrix_[row][col] = d.color.rgb_cam[row][col];
    meta_.Matrix[row] = matrix_[row].data();
  }
  maker_.assign(d.idata.make, strnlen(d.idata.make, sizeof d.idata.make));
  model_.assign(d.idata.model, strnlen(d.idata.model, sizeof d.idata.model));
  artist_.assign(d.other.artist, strnlen(d.other.artist, sizeof d.other.artist));
  meta_.Maker = maker_.c_str();
  meta_.Model = model_.c_str();
  meta_.Artist = artist_.c_str();
}

}  // namespace astrelon
