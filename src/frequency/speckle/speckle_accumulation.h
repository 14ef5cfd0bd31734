#pragma once
// Summing the frames of a speckle series: per shift vector u and colour layer
// the cross spectrum F(f)·conj(F(f + u)) of every frame (Knox–Thompson), or its
// bispectrum with the unit phasor of F(u) attached (triple correlation), beside
// the phasor sums of u = 1..3 and the zero-frequency divisor that the
// reconstruction needs.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "frequency/speckle/speckle_vectors.h"
#include "store/image_slot.h"

namespace astrelon {

// What one colour layer keeps beside its accumulators.
struct TSpeckleLayerSums {
  std::array<double, 4> SumCos{}, SumSin{};  // u = 1..3 (index 0 unused)
  double D = 1;        // the zero-frequency divisor, set by the first frame
  bool DSet = false;
  int32_t ZeroCount = 0;
};

// The accumulators X_u of u = 1..Vectors for layers 1..Layers, each laid out as
// one plane of the frame spectrum: Width = N + 2 values a row (the real parts
// of the horizontal bins 0 .. Half − 1, then their imaginary parts), Height
// rows with zero vertical frequency in row Height / 2.
struct TSpeckleAccumulators {
  int32_t Width = 0, Height = 0;
  int32_t Layers = 0;
  int32_t Vectors = 0;
  std::array<std::vector<TPlane>, 4> X;  // X[layer][u]; index 0 unused in both
  std::array<TSpeckleLayerSums, 4> Sums;

  int32_t Half() const { return Width / 2; }
  size_t PlaneValues() const { return size_t(Width) * size_t(Height); }
  // Accumulators made and zeroed, the sums cleared; std::bad_alloc (everything
  // freed) when they do not fit in memory.
  void Reset(int32_t width, int32_t height, int32_t layers, int32_t vectors);
  void Free();
  bool Empty() const { return Layers == 0; }
};

// One frame: the spectrum planes by accumulator layer (1..Layers), each of
// Width × Height values; their zero frequencies are normalised in place.
struct TSpeckleJob {
  std::array<std::span<float>, 4> Planes;
};

// Adds one frame to the accumulators. For each layer: the zero frequency is
// divided by D (the first frame sets D so that it becomes the smallest
// amplitude of bins 1..4 of its row), the phasors of every vector are taken
// (1 with kt), the sums of u = 1..3 get them as they are and the accumulators
// get them normalised. With threads > 1 the accumulators are shared out, each
// made by one thread, so the sums are the same for every split and path;
// `poll` (when given) runs on the calling thread before each of its vectors.
void SpeckleAkkumulation(TSpeckleAccumulators& acc, const TShiftVectors& vectors, const TSpeckleJob& job, bool kt,
                         int threads, const std::function<void()>& poll = {});

// X += F(f)·conj(F(f + (dx, dy)))·p over the bins where f and f + (dx, dy) lie
// in the plane (width × height values, half = width / 2); vector picks the
// four- or eight-lane loop, which gives the same bits as the plain one.
void AccumulateShiftVector(std::span<float> x, std::span<const float> f, int32_t width, int32_t height, int32_t dx,
                           int32_t dy, float pRe, float pIm, bool vector);

// Threads for one frame's vectors: 1 without "Multicores" or with fewer than 6
// vectors, else up to the processor count.
int SpeckleThreads(int32_t vectors);

}  // namespace astrelon
