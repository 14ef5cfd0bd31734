#pragma once
// A loop over items (rows, tiles) on all threads, each item handled alone, so
// that the results do not depend on the split.
#include <cstdint>

#include "kernels/gauss/filter_rows.h"

namespace astrelon {

// fn(i) for the items [0, count) of about `pixels` pixels each.
template <class F>
void EachItem(int64_t count, int64_t pixels, F&& fn) {
  ForEachChunk(
      0, count, pixels,
      [&](int64_t a, int64_t b) {
        for (int64_t i = a; i < b; ++i) fn(i);
      },
      [](int64_t) { return true; });
}

}  // namespace astrelon
