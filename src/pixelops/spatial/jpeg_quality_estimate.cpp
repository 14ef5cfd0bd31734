#include "pixelops/spatial/jpeg_quality_estimate.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "common/engine_ui.h"
#include "store/display/render_image_bitmap.h"
#include "store/image_store.h"
#include "store/pictures/jpeg_bitmap_decode.h"
#include "store/pictures/jpeg_writer.h"

namespace astrelon {

namespace {

bool RenderForJpeg(int slot, TDisplayBitmap& bitmap) {
  return RenderImageToBitmap(slot, JpegRenderFactor(ImageMaximum(slot)), bitmap);
}

bool IsGrey(const TDisplayBitmap& bitmap) { return bitmap.Format == TBitmapFormat::Indexed8; }

// Mean absolute difference of the bytes of two pictures of one shape, per pixel
// (a 24-bit picture's byte sum divided by 3).
double MeanByteDifference(const TDisplayBitmap& a, const TDisplayBitmap& b) {
  const size_t rowBytes = size_t(a.Width) * size_t(a.BytesPerPixel());
  int64_t sum = 0;
  for (int y = 0; y < a.Height; ++y) {
    const uint8_t* p = a.Row(y).data();
    const uint8_t* q = b.Row(y).data();
    for (size_t i = 0; i < rowBytes; ++i) sum += std::abs(int(p[i]) - int(q[i]));
  }
  double s = double(sum);
  if (a.BytesPerPixel() == 3) s /= 3;
  return s / (double(a.Width) * double(a.Height));
}

}  // namespace

double JpegRenderFactor(float maximum) { return 255.0 / std::max(double(maximum), 255.0); }

TQualityRange EstimateJpegQualityBySize(int slot) {
  TQualityRange range;  // (1, 100)
  if (!SlotInUse(slot) || Store.Image[size_t(slot)].JpegFileSize < 1) {
    JpegQualityRange = range;
    return range;
  }
  const int64_t fileSize = Store.Image[size_t(slot)].JpegFileSize;
  TDisplayBitmap bitmap;
  if (!RenderForJpeg(slot, bitmap)) {
    JpegQualityRange = range;
    return range;
  }
  std::vector<uint8_t> bytes;
  int32_t q = 0, step = 10;
  for (const int32_t s : {10, 5, 2, 1}) {
    step = s;
    int64_t size = 0;
    do {
      q = std::min(q + step, 100);
      size = EncodeJpeg(bitmap, q, IsGrey(bitmap), bytes) ? int64_t(bytes.size()) : 0;
      EngineUi().ProcessMessages();
    } while (size <= fileSize && q < 100 && !AbortRequested);
    q -= step;
    if (AbortRequested) break;
  }
  range.Low = std::max(q - (step - 1), 1);
  range.High = std::min(q + (100 - q) / 11 + (step - 1), 100);
  JpegQualityRange = range;
  return range;
}

TQualityGuess EstimateJpegQualityByDifference(int slot, int32_t centre) {
  AbortRequested = 0;
  const int32_t first = std::max(centre - 3, 1), last = std::clamp(centre + 2, 1, 100);
  TQualityGuess guess{last, 0};
  TDisplayBitmap bitmap, decoded;
  if (!RenderForJpeg(slot, bitmap)) return guess;
  const bool grey = IsGrey(bitmap);
  std::vector<uint8_t> bytes;
  double best = 1000;
  int32_t winner = last;
  for (int32_t q = first; q <= last; ++q) {
    if (EncodeJpeg(bitmap, q, grey, bytes) && DecodeJpegBitmap(bytes, grey, decoded) &&
        decoded.Width == bitmap.Width && decoded.Height == bitmap.Height) {
      const double d = MeanByteDifference(bitmap, decoded);
      if (d < best) {
        best = d;
        winner = q;
      }
    }
    EngineUi().ProcessMessages();
    if (AbortRequested) return guess;
  }
  guess.Quality = winner;
  guess.Confidence = winner != last ? 20 : 0;
  return guess;
}

TQualityEstimate EstimateJpegQuality(int slot) {
  AbortRequested = 0;
  const TQualityRange range = EstimateJpegQualityBySize(slot);
  if (AbortRequested) return {range.Low, true};
  const TBlockStatistics blocks = ComputeBlockStatistics(slot);
  if (AbortRequested) return {blocks.Strength, true};
  if (blocks.Flag != 0) return {blocks.Strength, false};
  const TQualityGuess guess = EstimateJpegQualityByDifference(slot, range.Low);
  if (AbortRequested) return {guess.Quality, true};
  return {guess.Confidence >= 10 ? guess.Quality : blocks.Strength, false};
}

}  // namespace astrelon
