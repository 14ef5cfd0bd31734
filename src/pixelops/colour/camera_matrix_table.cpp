#include "pixelops/colour/camera_matrix_table.h"

#include <algorithm>
#include <cstddef>

namespace astrelon {

TMatrix3 CameraProfileMatrix{};
int32_t CameraMosaicPhase = -1;

namespace {

// The rows generated from data/camera-matrices.tsv (SourcedCameraRows).
#include "camera_matrix_rows.inc"

// Rows of the program's own, first in the table.
inline constexpr std::array<camvalue, 3> OwnCameraRows{{
    {"Apple QuickTake", 0, 1, {17576, -3191, -3318, 5210, 6733, -1942, 9031, 1280, -124}},
    {"FUJIFILM FinePix S20Pro", 0, -1, {10004, -3219, -1201, -7036, 15047, 2107, -1863, 2565, 7736}},
    {"SONY DSLR-A900", 254, 0, {6971, -1730, -794, -5763, 13529, 2236, -1500, 2251, 6715}},
}};

constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

constexpr bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

// A sourced row whose name equals an own row's name could never be reached.
constexpr bool ShadowedByOwnRow(const camvalue& row) {
  return std::any_of(OwnCameraRows.begin(), OwnCameraRows.end(),
                     [&](const camvalue& own) { return SameIgnoringCase(own.name, row.name); });
}

constexpr size_t KeptSourcedRows() {
  return size_t(std::count_if(SourcedCameraRows.begin(), SourcedCameraRows.end(),
                              [](const camvalue& row) { return !ShadowedByOwnRow(row); }));
}

constexpr auto BuildTable() {
  std::array<camvalue, OwnCameraRows.size() + KeptSourcedRows()> table{};
  size_t n = 0;
  for (const camvalue& row : OwnCameraRows) table[n++] = row;
  for (const camvalue& row : SourcedCameraRows)
    if (!ShadowedByOwnRow(row)) table[n++] = row;
  return table;
}

constexpr auto Table = BuildTable();

}  // namespace

TCameraMatrixTable CameraMatrixTable() { return Table; }

TMatrix3 CameraProfileOf(const camvalue& row) {
  TMatrix3 n{};
  for (size_t i = 0; i < 3; ++i) {
    double sum = 0;
    for (size_t j = 0; j < 3; ++j) {
      n[i][j] = row.matrix[i * 3 + j] / 10000.0;
      sum += n[i][j];
    }
    for (size_t j = 0; j < 3; ++j) n[i][j] /= sum;
  }
  // W = [NᵀN | I], reduced by Gauss-Jordan without pivot search (NᵀN is
  // symmetric positive definite for an invertible N): the right half becomes (NᵀN)⁻¹.
  std::array<std::array<double, 6>, 3> w{};
  for (size_t i = 0; i < 3; ++i) {
    for (size_t j = 0; j < 3; ++j)
      for (size_t k = 0; k < 3; ++k) w[i][j] += n[k][i] * n[k][j];
    w[i][3 + i] = 1.0;
  }
  for (size_t p = 0; p < 3; ++p) {
    const double d = w[p][p];
    for (double& v : w[p]) v /= d;
    for (size_t i = 0; i < 3; ++i) {
      if (i == p) continue;
      const double f = w[i][p];
      for (size_t j = 0; j < 6; ++j) w[i][j] -= f * w[p][j];
    }
  }
  // P = N (NᵀN)⁻¹ is the transposed inverse of N; its transpose is N⁻¹.
  TMatrix3 result{};
  for (size_t r = 0; r < 3; ++r)
    for (size_t c = 0; c < 3; ++c) {
      double p = 0;  // P(c, r)
      for (size_t k = 0; k < 3; ++k) p += n[c][k] * w[k][3 + r];
      result[r][c] = p;
    }
  return result;
}

bool LookupCameraMatrix(std::string_view camera) {
  for (const camvalue& row : Table) {
    if (camera.size() < row.name.size() || !SameIgnoringCase(camera.substr(0, row.name.size()), row.name)) continue;
    CameraProfileMatrix = CameraProfileOf(row);
    CameraMosaicPhase = row.phase;
    return true;
  }
  return false;
}

}  // namespace astrelon
