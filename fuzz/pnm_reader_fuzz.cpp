// libFuzzer target for the PGM/PPM reader and its preview. Built by
// fuzz/build.sh (clang).
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "store/display/display_bitmap.h"
#include "store/image_loader.h"
#include "store/pictures/pnm_preview.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".ppm");
  fuzz::QuietMessages();
  Store.Reset();
  if (!fuzz::WriteInput(input, data, size)) return 0;
  if (LoadImageFile(1, input)) {
    fuzz::CheckLoadedSlot(1);
    fuzz::CheckHeaderCards(1);
  }
  TDisplayBitmap bitmap;
  int32_t w = 0, h = 0;
  if (LoadPnmPreview(bitmap, input, w, h))
    fuzz::Check(bitmap.Width >= 1 && bitmap.Width <= 280 && bitmap.Height >= 1 && bitmap.Height <= 186,
                "preview size");
  return 0;
}
