#pragma once
// A decoded picture in memory: 8 or 16 bits per sample, grey or RGB, with or
// without alpha, row 0 on top. Decoders and video frames hand pictures to the
// image store in this form.
#include <cstdint>
#include <vector>

namespace astrelon {

struct TPictureFormat {
  int32_t Width = 0;
  int32_t Height = 0;
  int Channels = 3;          // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA (samples per pixel, in this order)
  int BitDepth = 8;          // 8 or 16
  bool AlphaBlanks = false;  // an alpha sample below half makes the pixel blank (PNG colour types 4 and 6)
};

// A whole decoded picture; Samples8 or Samples16 holds Width*Height*Channels
// samples, row 0 on top.
struct TPicture {
  TPictureFormat Format;
  std::vector<uint8_t> Samples8;
  std::vector<uint16_t> Samples16;
};

}  // namespace astrelon
