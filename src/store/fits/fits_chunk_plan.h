#pragma once
// The data of a FITS file cut into chunks for the reader's and the writer's
// workers: runs of whole samples in file order, a quarter megabyte each, that
// do not cross the end of a plane. The cut depends only on the image, never on
// the number of threads.
#include <algorithm>
#include <cstdint>

namespace astrelon {

struct TFitsChunkPlan {
  static constexpr uint64_t ChunkBytes = uint64_t(1) << 18;

  TFitsChunkPlan(int32_t width, int32_t height, int bytesPerSample, int planes)
      : Width(uint64_t(std::max(width, 0))),
        Height(uint64_t(std::max(height, 0))),
        PlaneSamples(Width * Height),
        ChunkSamples(std::max<uint64_t>(1, ChunkBytes / uint64_t(std::max(bytesPerSample, 1)))),
        ChunksPerPlane(int64_t((PlaneSamples + ChunkSamples - 1) / ChunkSamples)),
        Count(ChunksPerPlane * std::max(planes, 0)) {}

  // Plane (1-based) of a chunk and its samples First .. Last-1, counted in file
  // order within the plane.
  struct TChunk {
    int Plane;
    uint64_t First, Last;
  };
  TChunk Chunk(int64_t c) const {
    const uint64_t first = uint64_t(c % ChunksPerPlane) * ChunkSamples;
    return {int(c / ChunksPerPlane) + 1, first, std::min(PlaneSamples, first + ChunkSamples)};
  }

  // Calls fn(pixel, sample, count) for the pieces of a chunk that lie in one
  // row: `count` samples from file sample `sample` (within the plane) go to the
  // plane's pixels from index `pixel` on. File row r is image row r with `flip`
  // ("Fits umdrehen"), else image row Height-1-r.
  template <class F>
  void ForEachRowPiece(const TChunk& c, bool flip, F&& fn) const {
    for (uint64_t s = c.First; s < c.Last;) {
      const uint64_t r = s / Width, x = s % Width;
      const uint64_t n = std::min(Width - x, c.Last - s);
      const uint64_t y = flip ? r : Height - 1 - r;
      fn(y * Width + x, s, n);
      s += n;
    }
  }

  uint64_t Width, Height;
  uint64_t PlaneSamples;
  uint64_t ChunkSamples;
  int64_t ChunksPerPlane;
  int64_t Count;
};

}  // namespace astrelon
