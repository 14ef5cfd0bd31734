#pragma once
// Power-of-two spectra of image lines (rows, or columns through a stride), up
// to 2·lanes lines at a time, two lines per transform. A line of any length is
// made into the transform's length by PreparePow2Line; the spectra can be
// changed and transformed back into lines of the original length.
#include <cstdint>
#include <span>
#include <vector>

#include "kernels/fft/fft_lines.h"

namespace astrelon {

// No clip level: every valid sample is accepted.
inline constexpr float NoLineClip = 1e18f;

class TLineSpectra {
public:
  // Lines of n samples (n <= plan length), taper of plan length − n + 1 values.
  TLineSpectra(const TFftPlan& plan, int lanes, int32_t n, std::span<const double> taper);

  int32_t Length() const { return lines_.Length(); }
  int32_t Bins() const { return nb_; }
  int LinesPerGroup() const { return 2 * lines_.Lanes(); }
  // Bins 0 .. N/2 of line q, unscaled (after Forward), changeable before Inverse.
  double* Re(int q) { return re_.data() + size_t(q) * size_t(nb_); }
  double* Im(int q) { return im_.data() + size_t(q) * size_t(nb_); }
  // The amplitudes of line q's bins (valid until the next call).
  const double* Amplitudes(int q);

  // Spectra of line[q] (q < count, count <= LinesPerGroup()): n samples at
  // `stride`; samples that are blank or above clip[q] (no clip without clips)
  // hold the last accepted value.
  void Forward(const float* const* line, int count, int64_t stride, const float* clips = nullptr);
  // The lines back from the (changed) spectra, scaled by 1/N: sample i of line
  // q is Value(q, i) afterwards.
  void InverseTransform(int count);
  double Value(int q, int32_t i) const {
    const double v = (q % 2 == 0) ? lines_.Re(q / 2, i) : lines_.Im(q / 2, i);
    return v * scale_;
  }
  // InverseTransform, then the n values of line q into out[q] at `stride`.
  void Inverse(float* const* out, int count, int64_t stride);

private:
  TRealLinePairs lines_;
  std::span<const double> taper_;
  int32_t n_, nb_;
  double scale_;
  std::vector<double> line_, re_, im_, amp_;
};

}  // namespace astrelon
