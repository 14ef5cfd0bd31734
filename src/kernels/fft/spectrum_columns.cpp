#include "kernels/fft/spectrum_columns.h"

namespace astrelon {

TColumnBlock::TColumnBlock(const TFftPlan& plan, int lanes) : plan_(plan), lanes_(lanes) {
  for (int b = 0; b < Width / lanes; ++b) buffers_[size_t(b)].Resize(plan.Length, lanes);
}

namespace {

// A full block: Width / L buffers of L lanes each, written at position p.
template <int L>
void PutFull(std::array<TFftLaneBuffer, TColumnBlock::Width>& buffers, size_t p, const float* re, const float* im,
             double imSign) {
  for (int b = 0; b < TColumnBlock::Width / L; ++b) {
    double* r = buffers[size_t(b)].Re() + p;
    double* m = buffers[size_t(b)].Im() + p;
    for (int l = 0; l < L; ++l) {
      r[l] = double(re[b * L + l]);
      m[l] = imSign * double(im[b * L + l]);
    }
  }
}

template <int L>
void GetFull(const std::array<TFftLaneBuffer, TColumnBlock::Width>& buffers, size_t p, float* re, float* im,
             double reScale, double imScale) {
  for (int b = 0; b < TColumnBlock::Width / L; ++b) {
    const double* r = buffers[size_t(b)].Re() + p;
    const double* m = buffers[size_t(b)].Im() + p;
    for (int l = 0; l < L; ++l) {
      re[b * L + l] = float(r[l] * reScale);
      im[b * L + l] = float(m[l] * imScale);
    }
  }
}

}  // namespace

void TColumnBlock::PutAt(int32_t position, const float* row, int64_t half, double imSign) {
  const size_t p = size_t(position) * size_t(lanes_);
  const float* re = row + k0_;
  const float* im = row + half + k0_;
  if (used_ == Width) {
    switch (lanes_) {
      case 4: return PutFull<4>(buffers_, p, re, im, imSign);
      case 2: return PutFull<2>(buffers_, p, re, im, imSign);
      default: return PutFull<1>(buffers_, p, re, im, imSign);
    }
  }
  for (int c = 0; c < Width; ++c) {
    TFftLaneBuffer& buf = buffers_[size_t(c / lanes_)];
    const size_t at = p + size_t(c % lanes_);
    buf.Re()[at] = c < used_ ? double(re[c]) : 0.0;
    buf.Im()[at] = c < used_ ? imSign * double(im[c]) : 0.0;
  }
}

void TColumnBlock::PutValues(int32_t i, const double* re, const double* im) {
  const size_t p = size_t(plan_.Permutation[size_t(i)]) * size_t(lanes_);
  for (int c = 0; c < Width; ++c) {
    TFftLaneBuffer& buf = buffers_[size_t(c / lanes_)];
    const size_t at = p + size_t(c % lanes_);
    buf.Re()[at] = c < used_ ? re[c] : 0.0;
    buf.Im()[at] = c < used_ ? im[c] : 0.0;
  }
}

void TColumnBlock::RowValues(const float* row, int64_t half, double* re, double* im) const {
  for (int c = 0; c < Width; ++c) {
    re[c] = c < used_ ? double(row[k0_ + c]) : 0.0;
    im[c] = c < used_ ? double(row[half + k0_ + c]) : 0.0;
  }
}

void TColumnBlock::Transform() {
  const int count = (used_ + lanes_ - 1) / lanes_;
  for (int b = 0; b < count; ++b) RunFftPasses(plan_, buffers_[size_t(b)].Re(), buffers_[size_t(b)].Im(), lanes_);
}

void TColumnBlock::Point(int32_t i, double* re, double* im) const {
  const size_t p = size_t(i) * size_t(lanes_);
  for (int c = 0; c < Width; ++c) {
    const TFftLaneBuffer& buf = buffers_[size_t(c / lanes_)];
    re[c] = c < used_ ? buf.Re()[p + size_t(c % lanes_)] : 0.0;
    im[c] = c < used_ ? buf.Im()[p + size_t(c % lanes_)] : 0.0;
  }
}

void TColumnBlock::GetAt(int32_t i, float* row, int64_t half, double reScale, double imScale) const {
  float* re = row + k0_;
  float* im = row + half + k0_;
  if (used_ == Width) {
    const size_t p = size_t(i) * size_t(lanes_);
    switch (lanes_) {
      case 4: return GetFull<4>(buffers_, p, re, im, reScale, imScale);
      case 2: return GetFull<2>(buffers_, p, re, im, reScale, imScale);
      default: return GetFull<1>(buffers_, p, re, im, reScale, imScale);
    }
  }
  for (int c = 0; c < used_; ++c) {
    const TFftLaneBuffer& buf = buffers_[size_t(c / lanes_)];
    const size_t at = size_t(i) * size_t(lanes_) + size_t(c % lanes_);
    re[c] = float(buf.Re()[at] * reScale);
    im[c] = float(buf.Im()[at] * imScale);
  }
}

}  // namespace astrelon
