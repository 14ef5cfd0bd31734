#pragma once
// Non-local-means filter ("NLM Rauschfilter") of a rectangle of a slot into a
// destination slot, on worker threads that each take a band of columns while
// the calling thread keeps the windows live, shows the progress and passes on
// an abort. The "Glatte Verläufe" mode filters only the fine structure: a wide
// blur of the source is subtracted, the difference filtered, the blur added
// back; the blur and the difference stay cached in FilterBlurSlot and
// FilterDiffSlot until their owner (the filter dialog, the bias-image tool)
// releases them.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "kernels/gauss/filter_poll.h"

namespace astrelon {

// The parameter block: filled by the caller, copied into every worker, which
// reports through its copy's done columns, progress and finished flag.
struct TNLMParams {
  int32_t Source = -1;       // the image to filter (each worker gets the working source)
  int32_t Destination = -1;  // a copy of the source made by the caller; receives the result
  int32_t X1 = 0, X2 = 0;    // columns (inclusive)
  int32_t Y1 = 0, Y2 = 0;    // rows (inclusive)
  std::array<std::atomic<int32_t>, 3> DoneColumn{};  // last column finished in planes 1..3
  int32_t PatchRadius = 2;   // "Radius", 1..5
  int32_t SearchRadius = 7;  // "Such-Umgebung", 2..12
  int32_t Strength = 100;    // "Stärke"; 0 leaves the destination as it is
  std::atomic<int32_t> Progress{0};  // percent
  uint8_t SmoothGradients = 0;       // "Glatte Verläufe"
  std::atomic<uint8_t> Finished{0};  // set by the worker last
  uint8_t SpatialWeighting = 0;      // distances grow with the offset
  uint8_t Spare = 0;

  TNLMParams() = default;
  TNLMParams(const TNLMParams& other) { *this = other; }
  TNLMParams& operator=(const TNLMParams& other);
};

// How a run shows itself and what else stops it.
struct TNlmRun {
  int32_t ProgressSlot = -1;    // window that shows the progress (none below 1)
  std::string Caption;          // the progress text
  TFilterPoll* Poll = nullptr;  // further stop conditions (a newer preview); the abort flag always stops
  int32_t Workers = 0;          // 0: NlmWorkerCount
};

// Workers for a rectangle: one per processor with "Multicores" on and more
// than 51 columns, else one (never more than the columns).
int32_t NlmWorkerCount(int32_t x1, int32_t x2);

// Filters the rectangle of the source into the destination's selected planes
// (its channel selection). Works from FilterWorkSlot when that holds an image
// (switched to the source's colour model first). Returns when every worker is
// done; false when stopped (FilterAborted is set when the abort flag stopped
// it) or when the smooth mode found no free slot for its work images (then
// "Es sind zu viele Bilder geöffnet" is shown and nothing changes).
bool NLMFilterStarten(const TNLMParams& params, const TNlmRun& run = {});

}  // namespace astrelon
