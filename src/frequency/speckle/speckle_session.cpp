#include "frequency/speckle/speckle_session.h"

#include <algorithm>
#include <cmath>

#include "common/engine_ui.h"
#include "common/paths.h"
#include "kernels/colour/color_to_mono.h"
#include "kernels/colour/expand_mono_to_rgb.h"
#include "kernels/fft/fft_sizes.h"
#include "kernels/fft/spectrum_image.h"
#include "kernels/regions/add_border.h"
#include "kernels/regions/crop_image_rect.h"
#include "kernels/regions/owned_slot.h"
#include "platform/memory_probe.h"

namespace astrelon {

namespace {

void FreeIfInUse(int& slot) {
  if (SlotInUse(slot)) FreeSlot(slot);
  slot = -1;
}

}  // namespace

TSpeckleMemory TSpeckleSession::UpdateSpeckleMemory(int32_t w, int32_t h, double seeing, int colourChoice) {
  const THalfAxes axes = SpeckleHalfAxes(w, h, seeing);
  Vectors = BuildShiftVectors(axes.Rx, axes.Ry);
  TSpeckleMemory m;
  m.VectorCount = Vectors.Regular < 201 ? Vectors.Regular : Vectors.Total;
  m.AvailableMB = double(AvailableMemory()) / 1048576.0;
  const double nx = double(NextGoodFftSize(std::max(w, 1), true)) + 1;
  const double ny = double(NextGoodFftSize(std::max(h, 1), true)) + 1;
  RequiredMB = SpeckleLayers(colourChoice) * (nx * ny * (Vectors.Total + 1)) / 262144.0 - UsedMB;
  m.RequiredMB = RequiredMB;
  m.Red = 1.2 * RequiredMB > m.AvailableMB;
  m.StartEnabled = RequiredMB <= m.AvailableMB;
  DataPresent = false;
  return m;
}

int TSpeckleSession::FrameSpectrum(int slot, const TSpeckleRunSettings& s) {
  TOwnedSlot frame(slot);
  TImageSlot& im = Store.Image[size_t(slot)];
  const TRectI& r = s.Region;
  // A frame smaller than the region is padded with blank pixels at its right and bottom.
  const int32_t right = std::max(0, r.Right + 1 - im.Width), bottom = std::max(0, r.Bottom + 1 - im.Height);
  if ((right > 0 || bottom > 0) && !AddBorder(slot, 0, bottom, 0, right, BlankPixel)) return -1;
  if (!CropImageRect(slot, slot, r.Left, r.Top, r.Right, r.Bottom)) return -1;
  if (s.ColourChoice == 0 && im.PlaneCount < 3) ExpandMonoToRgb(slot);
  if (s.ColourChoice == 1 && im.PlaneCount == 3) ConvertColorToMono(slot, slot, false);
  return ImageToFft2D(slot, std::max(s.Margin, 0), 0);
}

bool TSpeckleSession::FirstFrameSetUp(int spectrum, const std::string& fileName) {
  std::string folder = ExtractFilePath(fileName);
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (!SlotInUse(ResultSpectrum)) ResultSpectrum = FindFreeSlot();
  if (ResultSpectrum < 1 || !CopyImageSlot(spectrum, ResultSpectrum)) {
    ResultSpectrum = -1;
    return false;
  }
  ResultFolder = folder;
  const TImageSlot& sp = Store.Image[size_t(spectrum)];
  Acc.Reset(sp.Width, sp.Height, RunLayers, Vectors.Total);
  Noise = {};
  UsedMB += RequiredMB;
  RequiredMB = 0;
  return true;
}

int32_t TSpeckleSession::Accumulate(const TSpeckleFrameInput& input, const TSpeckleRunSettings& settings,
                                    const TSpeckleRunHooks& hooks) {
  if (input.Mode == TSpeckleInput::List && input.Files.size() < 2) return -1;
  Running = true;
  struct TRunningEnd {
    std::atomic<bool>& flag;
    ~TRunningEnd() { flag = false; }
  } end{Running};
  FreeIfInUse(KeptSpectrum);
  AbortRequested = 0;
  KT = settings.KT;
  RunLayers = SpeckleLayers(settings.ColourChoice);
  SortShiftVectors(Vectors);
  DataPresent = false;
  const int threads = SpeckleThreads(Vectors.Total);
  const auto poll = [] { EngineUi().ProcessMessages(); };

  TSpeckleFrameSource source(input);
  int32_t accumulated = 0;
  while (!AbortRequested) {
    const int slot = FindFreeSlot();
    if (slot < 1) break;
    const TSpeckleFrame got = source.Next(slot);
    if (got == TSpeckleFrame::End) break;
    if (got == TSpeckleFrame::Skipped) continue;
    if (input.Mode != TSpeckleInput::Avi && hooks.FrameShown) hooks.FrameShown(slot);
    TOwnedSlot spectrum(FrameSpectrum(slot, settings));
    if (!spectrum.Made()) continue;
    TImageSlot& sp = Store.Image[size_t(spectrum.Get())];
    if (accumulated == 0) {
      if (!FirstFrameSetUp(spectrum.Get(), source.FileName())) break;
      if (hooks.FirstFrame) hooks.FirstFrame();
    } else if (sp.Width != Acc.Width || sp.Height != Acc.Height) {
      continue;  // a frame of another size cannot join the sums
    }
    // The layers: the planes of a colour spectrum, or the chosen one.
    static constexpr int FirstPlane[5] = {1, 1, 1, 2, 3};
    TSpeckleJob job;
    if (sp.PlaneCount == 1 || settings.ColourChoice != 0) {
      const int p = sp.PlaneCount == 1 ? 1 : std::min(FirstPlane[std::clamp(settings.ColourChoice, 0, 4)], sp.PlaneCount);
      job.Planes[1] = sp.Planes[size_t(p)];
    } else {
      for (int p = 1; p <= std::min(3, sp.PlaneCount); ++p) job.Planes[size_t(p)] = sp.Planes[size_t(p)];
    }
    SpeckleAkkumulation(Acc, Vectors, job, KT, threads, poll);
    ++accumulated;
    poll();
  }
  DataPresent = accumulated > 0;
  return accumulated;
}

void TSpeckleSession::Release() {
  if (Running) return;
  Acc.Free();
  Noise = {};
  FreeIfInUse(ResultSpectrum);
  FreeIfInUse(KeptSpectrum);
  DataPresent = false;
}

}  // namespace astrelon
