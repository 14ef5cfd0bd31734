#include "frequency/wavelet/wavelet_apply.h"

#include <algorithm>

#include "frequency/wavelet/wavelet_noise_filter.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "frequency/wavelet/wavelet_settings.h"
#include "shell/main/main_services.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

TWaveletRun ApplyWaveletFilter(int source, int destination, const std::string& fileName, std::string* error) {
  TWaveletSettings settings;
  switch (ReadWaveletSettings(fileName, settings, error)) {
    case TWaveletFileRead::Missing: return TWaveletRun::Missing;
    case TWaveletFileRead::Refused: return TWaveletRun::Refused;
    case TWaveletFileRead::Read: break;
  }
  TWaveletNumbers numbers;
  WaveletNumbers(settings, numbers);  // the reader took numbers only
  if (!SlotInUse(source) || !SlotInUse(destination)) return TWaveletRun::Aborted;
  AbortRequested = 0;
  SetWorkRectToImage(destination);
  const TRectI rect = GetSelectionRect();
  TWaveletFilterOptions options;
  options.Hardness = settings.Hardness;
  options.Thresholds = numbers.Thresholds;
  options.Better = settings.Better;
  if (!BuildPyramid(source, 0, 4, rect)) return TWaveletRun::Aborted;
  const TImageSlot& im = Store.Image[size_t(destination)];
  for (int p = FirstChannel(destination); p >= 1 && p <= std::min(im.PlaneCount, 3); NextChannel(destination, p)) {
    if (!AbortRequested) PyramidNoiseFilter(source, 0, p, options, destination, rect);
    if (!AbortRequested) CollapsePyramid(0, destination, p, 4, numbers.Gains, rect);
  }
  return AbortRequested ? TWaveletRun::Aborted : TWaveletRun::Done;
}

}  // namespace astrelon
