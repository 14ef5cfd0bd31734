#pragma once
// The similarity transform of the batch's multi-star fit, and the fit a batch
// run hands the point-pair transform when more than two point pairs are given.

namespace astrelon {

// The similarity transform of the multi-star fit: the frame is sampled at
// (Tx - Ox + A x - B y, Ty - Oy + B x + A y).
struct TFittedTransform {
  double Tx = 0, Ty = 0, A = 1, B = 0;
  float Ox = 0, Oy = 0;
};

// The multi-star fit (translation, a, b and the reference offset).
extern TFittedTransform BatchFittedTransform;

}  // namespace astrelon
