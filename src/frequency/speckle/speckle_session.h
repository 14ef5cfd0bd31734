#pragma once
// The state of the speckle tool while its window lives: the frame size, the
// shift vectors, the accumulators and the slots of the result spectrum, and
// the accumulation run over the frames of a list, series or video.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "frequency/speckle/speckle_accumulation.h"
#include "frequency/speckle/speckle_amplitudes.h"
#include "frequency/speckle/speckle_frames.h"
#include "frequency/speckle/speckle_vectors.h"
#include "store/image_store.h"

namespace astrelon {

// The figures the window shows for a region and seeing.
struct TSpeckleMemory {
  int32_t VectorCount = 0;  // "TC Anzahl:": the regular count below 201, else the total
  double AvailableMB = 0;   // "Verfügbarer Speicher:"
  double RequiredMB = 0;    // "Benötigter Speicher:"
  bool Red = false;         // 1.2 × required exceeds the free memory
  bool StartEnabled = false;  // "Bilder registrieren": the required memory fits the free memory
};

// What a run reads of the window's fields.
struct TSpeckleRunSettings {
  TRectI Region;             // inclusive frame coordinates
  int32_t Margin = 10;       // "Rand anpassen:": inner margin of the transform
  int ColourChoice = 0;      // 0 "RGB", 1 "Y,s/w", 2 "R", 3 "G", 4 "B"
  bool KT = false;           // "KT"
};

struct TSpeckleRunHooks {
  std::function<void(int slot)> FrameShown;  // a file frame was loaded into the slot
  std::function<void()> FirstFrame;          // the first frame set up the accumulators
};

// Layers the colour choice accumulates: 3 for "RGB", else 1.
inline int32_t SpeckleLayers(int colourChoice) { return colourChoice == 0 ? 3 : 1; }

class TSpeckleSession {
public:
  TSpeckleSession() = default;
  ~TSpeckleSession() { Release(); }
  TSpeckleSession(const TSpeckleSession&) = delete;
  TSpeckleSession& operator=(const TSpeckleSession&) = delete;

  // Size of the last preview frame.
  int32_t FrameWidth = 0, FrameHeight = 0, FramePlanes = 0;
  TShiftVectors Vectors;
  TSpeckleAccumulators Acc;
  // What the reconstruction keeps of each layer between its runs.
  std::array<TSpeckleLayerNoise, 4> Noise;
  int ResultSpectrum = -1;  // R: a copy of the first frame's spectrum
  int KeptSpectrum = -1;    // K: the reconstructed spectrum before the response
  int ResultImage = -1;     // the slot of the result window
  bool DataPresent = false;
  bool KT = false;
  int32_t RunLayers = 1;    // layer count of the last run's colour choice
  std::string ResultFolder;  // folder of the first frame of the last run
  double UsedMB = 0, RequiredMB = 0;
  std::atomic<bool> Running{false};

  // Half axes from the region (w × h) and the seeing, the vectors rebuilt, the
  // figures; clears the data-present flag.
  TSpeckleMemory UpdateSpeckleMemory(int32_t w, int32_t h, double seeing, int colourChoice);

  // The accumulation run: every frame of the input cut to the region,
  // transformed and added; stops at the end of the input or when the abort
  // flag rises after a frame. Returns the number of frames accumulated (the
  // data-present flag is set when there is at least one). A list of fewer than
  // two files does nothing and returns -1.
  int32_t Accumulate(const TSpeckleFrameInput& input, const TSpeckleRunSettings& settings,
                     const TSpeckleRunHooks& hooks = {});

  // Frees the accumulators and the slots of the result spectra (not while a run is going on).
  void Release();

private:
  // One frame in `slot` cut, converted and transformed: its spectrum slot, or -1.
  int FrameSpectrum(int slot, const TSpeckleRunSettings& settings);
  bool FirstFrameSetUp(int spectrum, const std::string& fileName);
};

}  // namespace astrelon
