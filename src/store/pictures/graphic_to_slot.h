#pragma once
// Copying a decoded picture (8 or 16 bits per sample, grey or RGB, with or
// without alpha) into a slot's float planes. Decoders feed it row by row so that
// a large picture is converted while its rows are still in the cache.
#include <array>
#include <cstdint>
#include <exception>
#include <string>
#include <memory>
#include <span>
#include <vector>

#include "common/picture.h"
#include "store/display/display_histogram.h"
#include "store/planes/min_max_scan.h"

namespace astrelon {

class TPreviewSampler;

// Receives the rows of a picture for one slot, top row first. The planes are
// filled as the rows come, so a large picture is written to memory only once.
class TPictureSink {
public:
  TPictureSink();
  ~TPictureSink();
  TPictureSink(const TPictureSink&) = delete;
  TPictureSink& operator=(const TPictureSink&) = delete;

  // Sizes the slot and its planes and marks it in use; false (slot not in use)
  // when the picture has no pixels. keepColour suppresses the grey detection.
  // Throws std::bad_alloc when the planes do not fit in memory.
  bool Begin(int slot, const TPictureFormat& format, bool keepColour);
  // The next row (from the top) of Width*Channels samples; rows beyond Height are
  // ignored. Rethrows what a conversion worker failed with (std::bad_alloc).
  void PutRow(const uint8_t* samples);
  void PutRow(const uint16_t* samples);
  // Drops the planes of a grey picture, writes the default header, the display
  // range (0..255, or 0..65535 for 16-bit samples) and the histogram. False (slot
  // freed) when fewer than Height rows came; a worker's failure is rethrown (slot
  // freed).
  bool Finish();
  // Waits until every row given so far is in the planes. Call before freeing the
  // slot after a decoder failed.
  void Stop();
  // Before Begin: the rows go to a preview sampler instead, and no slot is touched.
  void SampleInto(TPreviewSampler* sampler) { sampler_ = sampler; }
  // Stops and frees the slot's planes (the decoder failed or gave up).
  void Abandon();

private:
  // What converting rows measures: each plane's minimum and maximum and its
  // display histogram on axis_, and whether every row tested was grey. Figures of
  // different rows merge in any order.
  struct TFigures {
    std::array<TMinMaxScan, 4> Scans{};
    THistogramCounts Counts{};
    bool Grey = true;
    void Merge(const TFigures& o);
  };

  void PutRaw(const unsigned char* raw);
  // A conversion worker: takes batches until the sink closes.
  void RunWorker();
  // Converts one row (samples of BitDepth as raw bytes) into row y of every plane;
  // f keeps whether it was grey.
  void ConvertRow(const unsigned char* raw, int32_t y, std::vector<uint16_t>& raw16, TFigures& f);
  // Measures rows y0 .. y0 + rows - 1 of every plane into f.
  void MeasureRows(int32_t y0, int32_t rows, TFigures& f);

  // Large pictures are converted on worker threads while the decoder goes on:
  // the rows are copied into batches that a pool of workers turns into rows of
  // the planes, so the result is the same as without them.
  struct TPipe;
  std::unique_ptr<TPipe> pipe_;
  std::exception_ptr workerError_;  // the first failure of a worker, kept by Stop
  size_t rawRowBytes_ = 0;

  int slot_ = -1;  // set by Begin
  TPictureFormat format_;
  bool keepColour_ = false;
  bool grey_ = true;
  int planes_ = 0;
  int32_t rows_ = 0;
  int32_t measured_ = 0;   // rows measured so far (without workers)
  int32_t measureRows_ = 1;  // rows measured at once
  int32_t batchRows_ = 32;   // rows of a worker's batch
  std::vector<uint16_t> raw16_;  // a 16-bit row taken out of raw bytes
  TFigures figures_;             // of the rows converted so far (workers' after Stop)
  THistogramAxis axis_;          // the display histogram's axis expected after loading
  bool vector_ = true;           // the SIMD switch when the picture began
  TPreviewSampler* sampler_ = nullptr;
};

// Runs f and returns what it threw (null when it returned). Decoders that
// libjpeg or libpng may leave by longjmp call the sink through it, so that they
// can release the library's state before the exception goes on.
template <typename F>
std::exception_ptr CaptureException(F&& f) noexcept {
  try {
    f();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

// Pictures of at least this many pixels are converted on worker threads (when the
// processor has more than one core); tests lower it to compare both ways.
extern size_t PictureWorkerThreshold;
// Test seam: called with a byte count before the sink takes memory (planes, row
// batches, a worker's row buffer); it may throw std::bad_alloc.
extern void (*PictureMemoryHook)(size_t bytes);

// The whole picture at once (clipboard, video frames, rendered bitmaps). Throws
// std::bad_alloc when the planes do not fit in memory (the slot is then free).
bool GraphicToSlot(const TPicture& picture, int slot, bool keepColour);

// Reads a whole picture file and decodes it through `decode` into the slot. On
// any failure the slot is freed and a message names the file; running out of
// memory frees the slot and throws std::bad_alloc.
using TPictureDecoder = bool (*)(std::span<const uint8_t> data, int slot, TPictureSink& sink);
bool LoadPictureFile(int slot, const std::string& fileName, TPictureDecoder decode);

}  // namespace astrelon
