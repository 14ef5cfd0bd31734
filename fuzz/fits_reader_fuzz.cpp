// libFuzzer target for the FITS reader: every input goes through the full
// reader, the header-only reader, both preview readers and, when it loads, a
// save and a second load of what was saved. Built by fuzz/build.sh (clang).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/engine_ui.h"
#include "store/display/display_bitmap.h"
#include "store/fits/fits_preview.h"
#include "store/fits/fits_reader.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "store/pictures/pnm_preview.h"

namespace {

std::string TempName(const char* what) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/astrelon-fuzz-" + std::to_string(getpid()) + what;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace astrelon;
  static const std::string input = TempName(".fit"), output = TempName("-out.fit");
  static TEngineUi quiet;
  SetEngineUi(&quiet);
  quiet.Messages.clear();
  FILE* f = std::fopen(input.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

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
