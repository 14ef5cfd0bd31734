#pragma once
// What a batch run (or the master dark and flat dialog) hands the stack
// combination: the run's file names, the per-frame star pairs and alignment
// qualities, whether the frames come from a video, and the labels of the batch
// status window.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace astrelon {

// The run's frame files, entry 0 the first frame.
extern std::vector<std::string> SeriesFileList;

// Per frame: two stars in the first frame and the same two in this frame
// (A1x, A1y, A2x, A2y, B1x, B1y, B2x, B2y).
using TStarPair = std::array<float, 8>;
extern std::vector<TStarPair> BatchStarPairs;

// Multi-star alignment: one star in the first frame (Xa, Ya) and the same star
// in this frame (Xb, Yb).
struct TMarkPair {
  float Xa = 0, Ya = 0, Xb = 0, Yb = 0;
};
// Per frame its star pairs (alignment on more than two stars).
extern std::vector<std::vector<TMarkPair>> BatchMarkPairs;
// Per frame the quality of its alignment (larger is better).
extern std::vector<float> BatchQualities;

// The run's frames come from the open video: frame numbers are the trailing
// digits of the file names.
extern std::atomic<uint8_t> BatchVideoInput;

// The labels of the batch status window that workers write. The window installs
// its implementation while it is shown; without one nothing is shown.
class TBatchStatusLabels {
public:
  virtual ~TBatchStatusLabels() = default;
  virtual void SetFunctionLabel(const std::string& text) = 0;
  virtual void SetProgressLabel(const std::string& text) = 0;
  virtual void SetFileLabel(const std::string& text) = 0;
  // The count of finished images (the batch's third line).
  virtual void SetCountLabel(const std::string& text) {}
};
// The installed labels, or nullptr.
extern TBatchStatusLabels* BatchStatusLabels;

}  // namespace astrelon
