#pragma once
// The store as the star-box tests find it: the star-centroid switch, no batch
// running, an RGGB colour mosaic, and no image windows left behind.
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

class StarBoxFixture : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    Settings.ShiftMode = 0;
    BatchRunning = 0;
    BatchDiscMode = 0;
    MosaicSettings.Cells = {McRed, McGreen, McGreen, McBlue, -1, -1, -1, -1};
  }
  void TearDown() override {
    Store.Window[1] = Store.Window[2] = nullptr;
    Store.HasWindow[1] = Store.HasWindow[2] = 0;
    StoreTest::TearDown();
  }
};

}  // namespace astrelon::test
