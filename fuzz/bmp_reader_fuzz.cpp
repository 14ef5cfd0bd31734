// libFuzzer target for the BMP reader: every input is decoded in memory and
// loaded as a file (with the date scan of the loader); a picture that loads is
// rendered, saved as BMP and loaded again at the same size. Built by
// fuzz/build.sh (clang).
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz_input.h"
#include "shell/display/renderer.h"
#include "store/display/display_bitmap.h"
#include "store/image_loader.h"
#include "store/pictures/bmp_codec.h"
#include "store/pictures/graphic_to_slot.h"

namespace {

// Pictures above a million pixels take seconds each in this build and add no
// new paths (the reader's limits are tested elsewhere): such inputs are skipped.
bool Large(const uint8_t* d, size_t size) {
  if (size < 26) return false;
  auto u16 = [d](size_t o) { return uint32_t(d[o] | d[o + 1] << 8); };
  auto i32 = [&](size_t o) { return int32_t(u16(o) | u16(o + 2) << 16); };
  const bool core = u16(14) == 12 && u16(16) == 0;
  const int64_t w = core ? int64_t(u16(18)) : int64_t(i32(18));
  const int64_t h = core ? int64_t(u16(20)) : int64_t(i32(22));
  return std::abs(w) * std::abs(h) > (int64_t(1) << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".bmp"), output = fuzz::TempName("-out.bmp");
  if (Large(data, size)) return 0;
  fuzz::QuietMessages();
  Store.Reset();
  {
    TPictureSink sink;
    if (DecodeBmp(std::span<const uint8_t>(data, size), 1, sink)) {
      fuzz::Check(sink.Finish(), "a decoded picture is complete");
      fuzz::CheckLoadedSlot(1);
    }
  }
  if (!fuzz::WriteInput(input, data, size)) return 0;
  if (LoadImageFile(2, input)) {
    fuzz::CheckLoadedSlot(2);
    fuzz::CheckHeaderCards(2);
    TDisplayBitmap bitmap;
    if (RenderSlotBitmap(2, 100, bitmap) && SaveBmpFile(bitmap, output)) {
      fuzz::Check(LoadImageFile(3, output), "a written BMP loads");
      fuzz::Check(Store.Image[3].Width == Store.Image[2].Width && Store.Image[3].Height == Store.Image[2].Height,
                  "a written BMP keeps its size");
    }
  }
  return 0;
}
