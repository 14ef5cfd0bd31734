#pragma once
// The image store and a message-collecting engine interface for the speckle
// tests; the abort flag and the free-memory seam are reset afterwards.
#include "common/engine_ui.h"
#include "platform/memory_probe.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

class SpeckleTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    SetEngineUi(&ui_);
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    AbortRequested = 0;
    AvailableMemoryOverride = nullptr;
    StoreTest::TearDown();
  }
  TEngineUi ui_;
};

}  // namespace astrelon::test
