#pragma once
// Small dense linear systems of the fits (normal equations of a few
// parameters), solved in place by Gaussian elimination with partial pivoting.
#include <span>

namespace astrelon {

// Solves m x = b for the n unknowns (m row-major, n x n); b receives x. False
// when m is singular.
bool SolveLinear(std::span<double> m, std::span<double> b, int n);

}  // namespace astrelon
