#include "pixelops/spatial/cross_edges.h"

#include <cmath>

#include "pixelops/spatial/edge_planes.h"

namespace astrelon {

void CrossEdges(int source, int destination) {
  ForEachEdgeBand(source, destination,
                  [](const float* in, float* out, int32_t width, int32_t h, int64_t first, int64_t last) {
                    const size_t w = size_t(width);
                    for (int64_t y = first; y < last; ++y) {
                      float* row = out + size_t(y) * w;
                      for (size_t x = 0; x < w; ++x)
                        if (IsValidPixel(row[x])) row[x] = 0.0f;
                      if (y + 1 >= h) continue;
                      const float* top = in + size_t(y) * w;
                      const float* bottom = top + w;
                      for (size_t x = 0; x + 1 < w; ++x) {
                        const float a = top[x], b = top[x + 1], c = bottom[x], e = bottom[x + 1];
                        if (IsValidPixel(a) && IsValidPixel(b) && IsValidPixel(c) && IsValidPixel(e))
                          row[x] = std::sqrt((a - e) * (a - e) + (b - c) * (b - c));
                      }
                    }
                  });
}

}  // namespace astrelon
