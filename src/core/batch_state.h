#pragma once
// Run state of the batch processor that the store and the image windows read.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace astrelon {
extern std::atomic<uint8_t> BatchRunning;   // 1 while a batch runs
extern std::atomic<uint8_t> BatchAbort;     // asks a running batch or master-frame worker to stop
extern std::atomic<uint8_t> MarksChanged;   // set when a mark is added or a selection/mark moves
extern std::atomic<uint8_t> MultiMarkMode;  // presses in tool modes 1 and 2 create marks
extern std::atomic<uint8_t> BatchAddToTarget;  // the run's current step adds to the target file
// Alignment of the run: 0 none, 1 shift, 2 two-star similarity, more than 2 multi-star fit.
extern std::atomic<int32_t> BatchMarkCount;
// The batch's disc-threshold field as typed (percent of the range above the
// background, "." as decimal separator); empty when the run gives none.
extern std::string BatchDiscThreshold;
// The run finds shifts by the edges of a bright disc (planet, sun, moon).
extern std::atomic<uint8_t> BatchDiscMode;
// Star apertures remembered for reference points 1 and 2 (indices 0 and 1):
// handed to the star search and updated by the collection of point pairs.
extern std::array<int32_t, 2> BatchStarApertures;
// The star a running batch's box follows at reference point 1 and 2: where
// the reference point lay and the flux of the star last measured there in a
// frame (0: none yet), and the reference image's box it was measured in
// (x1, y1, x2, y2). The next frame's box matches that flux; the target the
// reference points lie in holds a sum of frames. Cleared when a run starts.
struct TFollowedStar {
  float X = 0, Y = 0;
  double Flux = 0;
  std::array<int32_t, 4> Box{};
};
extern std::array<TFollowedStar, 2> BatchFollowedStars;
}  // namespace astrelon
