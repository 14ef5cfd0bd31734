#pragma once
// Combination of a series of frame files (darks, flats, light frames) into one
// image, pixel by pixel with a robust statistic, in bands of rows so that only
// one band of every frame is held in memory at a time.
#include <cstdint>
#include <string_view>

namespace astrelon {

enum class TStackMethod : int32_t { Mean = 0, Sigma = 1, MeanMed = 2, Median = 3 };

// "Sigma", "Mittelmed" or "Median" (empty for the plain mean).
std::string_view StackMethodName(TStackMethod method);

// Most frames one combination takes.
constexpr int32_t MaxStackFrames = 4048;
// Most values the band buffers of all frames and planes hold together.
constexpr int64_t MaxBandValues = 200'000'000;

struct TStackOptions {
  int32_t TargetSlot = 0;   // a free slot: takes the first frame, then the result
  int32_t Count = 0;        // frames: the first Count names of SeriesFileList
  TStackMethod Method = TStackMethod::Median;
  bool ShowProgress = false;  // progress bar in the target's window
  bool IsFlat = false;        // flats: levels at 70 % and multiplicative levelling
};

// Rows per band for frames of w x h pixels and `planes` planes: from the free
// memory (about 7 bytes per buffered value beside the target), at least 1, at
// most h, and never more than MaxBandValues values in all.
int32_t StackBandRows(uint64_t freeBytes, int32_t w, int32_t h, int32_t count, int32_t planes);

// Combines the frames into the target slot and returns the number of frames
// combined; -1 when the batch's abort flag ended it (the finished bands stay) or
// when nothing was made (fewer than 3 frames, no valid target slot, no free
// slot for the frames beside it (said once), the first frame unreadable (said
// with its name), memory running out for the bands, the levels or the workers
// (said once; the target is freed)). A frame that is missing, unreadable or (without alignment) of
// another width, height or plane count than the first says so once and is
// left out of every band and of the count. The target keeps its previous file
// name and gets the card "HISTORY <count> Bilder <method>".
int32_t CombineImageStack(const TStackOptions& options);

}  // namespace astrelon
