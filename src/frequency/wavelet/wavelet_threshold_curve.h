#pragma once
// The threshold curve of the wavelet noise filter: detail values below a limit
// G = k T c shrink smoothly towards 0, larger ones (and blanks) stay. k = 4 -
// hardness index, so item "1" (index 0) gives the softest curve with k = 4 and
// item "4" (index 3) the hardest with k = 1.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

struct TThresholdCurve {
  int32_t K = 4;
  double Limit = 0;   // G: values of smaller magnitude follow the table
  double Scale = 0;   // T c: table position = |v| x 500 / (T c)
  std::vector<double> Table;  // 500 k + 2 entries
};

// The curve for hardness index 0..3 (clamped), threshold T and factor c.
TThresholdCurve MakeThresholdCurve(int hardness, double threshold, double c);

// Every value v with 0 < v < G becomes f[round(v 500 / (T c))], every value with
// -G < v <= 0 becomes -f[round(-v 500 / (T c))].
void ApplyThresholdCurve(const TThresholdCurve& curve, std::span<float> values);

}  // namespace astrelon
