#pragma once
// A random RGB image for the benchmarks that compare against OpenCV: the
// program's slot and the same pixels as one interleaved three-channel matrix.
#include <opencv2/core.hpp>
#include <random>
#include <vector>

#include "store/image_store.h"

namespace astrelon::bench {

// Fills `slot` with a w x h colour image of uniform values in [0, 1) (the same
// for the same seed) and returns its planes interleaved as CV_32FC3.
inline cv::Mat PutRandomRgbImage(int slot, int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<cv::Mat> channels;
  TImageSlot& im = Store.Image[size_t(slot)];
  im.Width = w;
  im.Height = h;
  im.PlaneCount = 3;
  im.IsColor = 1;
  for (int p = 1; p <= 3; ++p) {
    im.Planes[size_t(p)].resize(size_t(w) * size_t(h));
    for (float& v : im.Planes[size_t(p)]) v = u(rng);
    channels.emplace_back(h, w, CV_32FC1, im.Planes[size_t(p)].data());
  }
  Store.InUse[size_t(slot)] = 1;
  cv::Mat rgb;
  cv::merge(channels, rgb);
  return rgb;
}

}  // namespace astrelon::bench
