#pragma once
// A random RGB image for the benchmarks that compare against OpenCV: the
// program's slot and the same pixels as one interleaved three-channel matrix.
#include <opencv2/core.hpp>
#include <vector>

#include "random_slot.h"

namespace astrelon::bench {

// Fills `slot` with a w x h colour image of uniform values in [0, 1) (the same
// for the same seed) and returns its planes interleaved as CV_32FC3.
inline cv::Mat PutRandomRgbImage(int slot, int w, int h, unsigned seed) {
  FillRandomRgb(slot, w, h, seed);
  std::vector<cv::Mat> channels;
  for (int p = 1; p <= 3; ++p) channels.emplace_back(h, w, CV_32FC1, Store.Image[size_t(slot)].Planes[size_t(p)].data());
  cv::Mat rgb;
  cv::merge(channels, rgb);
  return rgb;
}

}  // namespace astrelon::bench
