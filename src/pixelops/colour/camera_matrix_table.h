#pragma once
// The camera colour-matrix table: per digital camera model the matrix that takes
// XYZ colour to the camera's raw colour, looked up by the beginning of an image's
// "INSTRUME" value. A lookup leaves the inverse (camera raw to XYZ, rows
// normalised) in the program-wide camera-profile matrix.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace astrelon {

// One table row.
struct camvalue {
  std::string_view name;         // maker and model as the "INSTRUME" value begins
  int32_t level = 0;             // the model's black level; nothing reads it
  int16_t phase = -1;            // filter pattern 0 RGGB, 1 GRBG, 2 GBRG, 3 BGGR; -1 unknown
  std::array<int32_t, 9> matrix{};  // XYZ to camera, row-major, x 10000
};

// The rows in lookup order: wherever one name begins another, the longer comes first.
using TCameraMatrixTable = std::span<const camvalue>;
TCameraMatrixTable CameraMatrixTable();

using TMatrix3 = std::array<std::array<double, 3>, 3>;

// Results of the last successful lookup: the camera-profile matrix (camera raw
// to XYZ) and the camera's filter pattern (-1 unknown).
extern TMatrix3 CameraProfileMatrix;
extern int32_t CameraMosaicPhase;

// The first row whose name, letter case ignored (ASCII), begins `camera`: sets
// CameraProfileMatrix and CameraMosaicPhase and returns true. False (nothing
// changed) when no row matches.
bool LookupCameraMatrix(std::string_view camera);

// The camera-profile matrix of a row: the coefficients / 10000, each row divided
// by its sum, inverted through the pseudo-inverse N (NᵀN)⁻¹ and transposed.
TMatrix3 CameraProfileOf(const camvalue& row);

}  // namespace astrelon
