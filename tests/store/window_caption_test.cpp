#include "store/window_caption.h"

#include <gtest/gtest.h>

#include "core/settings.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class WindowCaption : public test::StoreTest {
protected:
  void TearDown() override {
    Options.FullPath = saved_;
    test::StoreTest::TearDown();
  }
  uint8_t saved_ = Options.FullPath;
};

TEST_F(WindowCaption, FullPathOrNamePart) {
  Store.FileName[3] = "/home/sky/m 31/frame_001.fit";
  Options.FullPath = 1;
  EXPECT_EQ(WindowCaptionText(3), "/home/sky/m 31/frame_001.fit");
  Options.FullPath = 0;
  EXPECT_EQ(WindowCaptionText(3), "frame_001.fit");
  Store.FileName[4] = "Bild1";
  EXPECT_EQ(WindowCaptionText(4), "Bild1");
  EXPECT_EQ(WindowCaptionText(-1), "");
}

}  // namespace
}  // namespace astrelon
