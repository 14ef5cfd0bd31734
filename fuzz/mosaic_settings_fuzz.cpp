// libFuzzer target for colour-mosaic settings files (".qcm") and the conversion
// they drive: every input is read; a file that is taken then converts a small
// fixed mosaic with its method, multipliers, bias and ratios (method 5 with a
// fixed network file). A refused file leaves the settings as they were; a
// conversion never writes NaN and leaves no slot behind but its result; a
// message never quotes more than a line's first 40 characters. Built by
// fuzz/build.sh (clang).
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "fuzz_input.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "kernels/network/neural_tables.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "pixelops/mosaic/mosaic_settings_file.h"

namespace {

using namespace astrelon;

// A small debayer network (type 2, 10 neurons, weights of both signs).
std::string NetworkFile() {
  static const std::string name = fuzz::TempName("-debayer.nnb");
  std::vector<uint8_t> bytes;
  const auto put = [&](const auto v) {
    const auto* b = reinterpret_cast<const uint8_t*>(&v);
    bytes.insert(bytes.end(), b, b + sizeof(v));
  };
  put(int32_t(2));
  put(int32_t(9));
  for (int i = 0; i < 10 * 37 + 10 * 21 + 21 * 4; ++i) put(float(((i * 7) % 11 - 5) * 0.1));
  put(0.01);
  put(int32_t(9));
  fuzz::WriteInput(name, bytes.data(), bytes.size());
  return name;
}

// A 24 x 20 mosaic with a gradient, a bright spot and a few blanks.
void PutMosaic(int slot) {
  TImageSlot& im = Store.Image[size_t(slot)];
  im = TImageSlot{};
  im.Width = 24;
  im.Height = 20;
  im.PlaneCount = 1;
  im.Planes[1].resize(im.PixelCount());
  for (int y = 0; y < im.Height; ++y)
    for (int x = 0; x < im.Width; ++x)
      im.Planes[1][size_t(y * im.Width + x)] =
          (x * 7 + y * 3) % 23 == 0 ? -1e11f : 100.0f + 10.0f * x + 5.0f * y + ((x - 12) * (x - 12) + (y - 9) * (y - 9) < 6 ? 3000.0f : 0.0f);
  Store.InUse[size_t(slot)] = 1;
  Store.FileName[size_t(slot)] = "/fuzz/mosaic.fit";
  UpdateMinMax(slot);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = fuzz::TempName(".qcm");
  static const std::string network = NetworkFile();
  if (!fuzz::WriteInput(input, data, size)) return 0;
  fuzz::QuietMessages();
  BuildTanhTable();
  Store.Reset();
  MosaicSettings = TMosaicSettings{};
  const TMosaicSettings before = MosaicSettings;
  const bool taken = ReadMosaicSettings(input);
  if (!taken) fuzz::Check(MosaicSettings == before, "a refused file leaves the settings");
  MosaicSettings.CameraProfile = false;
  MosaicSettings.NetworkFile = network;
  PutMosaic(1);
  const int result = GenerateRgbFromMosaic(1);
  for (int s = 2; s <= MaxImageSlots; ++s) fuzz::Check(!Store.InUse[size_t(s)] || s == result, "no slot left behind");
  if (result > 0) {
    fuzz::CheckLoadedSlot(result);
    for (int p = 1; p <= 3; ++p)
      for (const float v : Store.Image[size_t(result)].Planes[size_t(p)]) fuzz::Check(!std::isnan(v), "no NaN pixel");
  }
  for (const std::string& m : EngineUi().Messages)
    fuzz::Check(m.size() <= input.size() + 200, "a message quotes no whole line");
  return 0;
}
