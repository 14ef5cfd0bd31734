#pragma once
// Runs a test on one code path: scalar, SSE2 (four wide) or AVX2 (eight wide).
#include <string>
#include <vector>

#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon::test {

enum class TPath { Scalar, Sse2, Avx2 };

// The paths this processor can run.
inline std::vector<TPath> AvailablePaths() {
  std::vector<TPath> p{TPath::Scalar, TPath::Sse2};
  if (CpuHasAvx2()) p.push_back(TPath::Avx2);
  return p;
}
inline std::vector<TPath> VectorPaths() {
  std::vector<TPath> p = AvailablePaths();
  p.erase(p.begin());
  return p;
}
inline std::string PathName(TPath p) { return p == TPath::Scalar ? "scalar" : p == TPath::Sse2 ? "SSE2" : "AVX2"; }

// Sets the switches for the life of the object; Vector() is the `vector` argument.
class PathGuard {
public:
  explicit PathGuard(TPath p) : sse2_(Sse2Enabled), avx2_(Avx2Enabled), path_(p) {
    Sse2Enabled = p != TPath::Scalar;
    Avx2Enabled = p == TPath::Avx2;
  }
  ~PathGuard() {
    Sse2Enabled = sse2_;
    Avx2Enabled = avx2_;
  }
  PathGuard(const PathGuard&) = delete;
  PathGuard& operator=(const PathGuard&) = delete;
  bool Vector() const { return path_ != TPath::Scalar; }

private:
  bool sse2_, avx2_;
  TPath path_;
};

}  // namespace astrelon::test
