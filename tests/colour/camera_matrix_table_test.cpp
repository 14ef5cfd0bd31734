// The camera colour-matrix table: lookup by name prefix, the stored inverse and
// the order of its rows.
#include "pixelops/colour/camera_matrix_table.h"

#include <algorithm>
#include <cctype>
#include <string>

#include <gtest/gtest.h>

namespace astrelon {
namespace {

const camvalue* RowNamed(std::string_view name) {
  for (const camvalue& row : CameraMatrixTable())
    if (row.name == name) return &row;
  return nullptr;
}

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = char(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

TEST(CameraMatrixTable, OwnRowsFirstThenTheDataRowsThatTheyDoNotShadow) {
  const TCameraMatrixTable table = CameraMatrixTable();
  // 3 own rows + 795 data rows, less "Apple QuickTake" and "Sony DSLR-A900" of the data.
  ASSERT_EQ(table.size(), 796u);
  EXPECT_EQ(table[0].name, "Apple QuickTake");
  EXPECT_EQ(table[1].name, "FUJIFILM FinePix S20Pro");
  EXPECT_EQ(table[2].name, "SONY DSLR-A900");
  EXPECT_EQ(table[3].name, "YI M1");
  EXPECT_EQ(table.back().name, "Agfa DC-833m");
  EXPECT_EQ(table[2].level, 254);
  EXPECT_EQ(RowNamed("Sony DSLR-A900"), nullptr);
  // 32-bit coefficients of the data.
  const camvalue* sx40 = RowNamed("Canon PowerShot SX40 HS");
  ASSERT_NE(sx40, nullptr);
  EXPECT_EQ(sx40->matrix[0], 54480);
  EXPECT_EQ(sx40->matrix[4], 44044);
  EXPECT_EQ(sx40->phase, -1);
  EXPECT_EQ(RowNamed("Sony ZV-1")->level, -800);
}

TEST(CameraMatrixTable, LookupByNamePrefixIgnoringCase) {
  CameraMosaicPhase = 7;
  ASSERT_TRUE(LookupCameraMatrix("canon eos 5d mark ii and more"));
  EXPECT_EQ(CameraProfileMatrix, CameraProfileOf(*RowNamed("Canon EOS 5D Mark II")));
  EXPECT_NE(CameraProfileMatrix, CameraProfileOf(*RowNamed("Canon EOS 5D")));
  EXPECT_EQ(CameraMosaicPhase, -1);

  ASSERT_TRUE(LookupCameraMatrix("Apple QuickTake 100"));
  EXPECT_EQ(CameraMosaicPhase, 1);
  ASSERT_TRUE(LookupCameraMatrix("SONY DSLR-A900"));
  EXPECT_EQ(CameraMosaicPhase, 0);

  // Unknown names leave the last result.
  const TMatrix3 before = CameraProfileMatrix;
  for (const char* name : {"", "Nikon Z99", "Apple", "Unbekannte Kamera"}) {
    EXPECT_FALSE(LookupCameraMatrix(name)) << name;
    EXPECT_EQ(CameraProfileMatrix, before);
    EXPECT_EQ(CameraMosaicPhase, 0);
  }
}

TEST(CameraMatrixTable, EveryRowInvertsItsNormalisedMatrix) {
  for (const camvalue& row : CameraMatrixTable()) {
    SCOPED_TRACE(std::string(row.name));
    TMatrix3 n{};
    for (size_t i = 0; i < 3; ++i) {
      const double sum = (row.matrix[i * 3] + row.matrix[i * 3 + 1] + row.matrix[i * 3 + 2]) / 10000.0;
      ASSERT_NE(sum, 0.0);
      for (size_t j = 0; j < 3; ++j) n[i][j] = row.matrix[i * 3 + j] / 10000.0 / sum;
    }
    const TMatrix3 m = CameraProfileOf(row);
    for (size_t r = 0; r < 3; ++r) {
      EXPECT_NEAR(m[r][0] + m[r][1] + m[r][2], 1.0, 1e-9);
      for (size_t c = 0; c < 3; ++c) {
        const double p = m[r][0] * n[0][c] + m[r][1] * n[1][c] + m[r][2] * n[2][c];
        EXPECT_NEAR(p, r == c ? 1.0 : 0.0, 1e-9);
      }
    }
  }
}

TEST(CameraMatrixTable, WhereOneNameBeginsAnotherTheLongerComesFirst) {
  const TCameraMatrixTable table = CameraMatrixTable();
  for (size_t i = 0; i < table.size(); ++i)
    for (size_t j = i + 1; j < table.size(); ++j) {
      const std::string a = Upper(table[i].name), b = Upper(table[j].name);
      EXPECT_FALSE(b.starts_with(a))
          << table[i].name << " stands before " << table[j].name;
    }
  // Each row is found by its own name (no earlier row takes it).
  for (const camvalue& row : table) {
    ASSERT_TRUE(LookupCameraMatrix(row.name));
    EXPECT_EQ(CameraProfileMatrix, CameraProfileOf(row)) << row.name;
  }
}

}  // namespace
}  // namespace astrelon
