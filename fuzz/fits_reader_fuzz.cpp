// libFuzzer target for the FITS reader: every input goes through the full
// reader, the header-only reader, both preview readers and, when it loads, a
// save and a second load of what was saved. Built by fuzz/build.sh (clang).
#include <cstdint>
#include <string>

#include "store/display/display_bitmap.h"
#include "store/fits/fits_preview.h"
#include "store/fits/fits_reader.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "store/pictures/pnm_preview.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = fuzz::TempName(".fit"), output = fuzz::TempName("-out.fit");
  fuzz::QuietMessages();
  if (!fuzz::WriteInput(input, data, size)) return 0;

  Store.Reset();
  LoadFits(0, input, true);
  if (LoadFits(1, input, false)) {
    if (SaveFits(1, int(size % 3 == 0 ? 16 : size % 3 == 1 ? 32 : -32), output, true, false)) LoadFits(2, output, false);
  }
  int32_t w = 0, h = 0;
  LoadFitsPreview(3, input, w, h);
  TDisplayBitmap bitmap;
  LoadPnmPreview(bitmap, input, w, h);
  return 0;
}
