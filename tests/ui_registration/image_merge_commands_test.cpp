// The mosaic and exposure merge commands of the main menu.
#include "registration/ui/image_merge_commands.h"

#include <QMessageBox>
#include <QPushButton>

#include "../ui_windows/window_fixture.h"
#include "pixelops/ui/operation_frame.h"
#include "platform/memory_probe.h"
#include "qt_test_app.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class ImageMergeCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterImageMergeCommands();
  }
  void TearDown() override {
    AvailableMemoryOverride = nullptr;
    WindowTest::TearDown();
  }
  // Clicks Yes or No in the next message box and records its text.
  void AnswerBox(bool yes) {
    WhenModal([this, yes](QWidget* w) {
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        question_ = box->text();
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
      }
    });
  }
  QString question_;

  // Joins a 120 x 60 image onto a 100 x 80 one, answering No to the contrast
  // question; the result is in a new slot, or in place with too little memory.
  void MosaicOfTwo(bool lowMemory) {
    Open(1, 100, 80);
    Open(2, 120, 60);
    for (float& v : Store.Image[2].Planes[1]) v = 7;
    UpdateMinMax(2);
    ActivateImageWindow(1);
    if (lowMemory) AvailableMemoryOverride = []() -> uint64_t { return 50000; };  // below 8 bytes a pixel, enough for the grown planes
    AnswerBox(false);
    EXPECT_TRUE(RunMenuCommand("Mosaik1"));
    QApplication::processEvents();
    EXPECT_EQ(question_, "Soll der Kontrast auch angepasst werden?");
    const int made = lowMemory ? 1 : 3;
    ASSERT_TRUE(Store.InUse[size_t(made)]);
    EXPECT_EQ(Store.Image[size_t(made)].Width, 120);
    EXPECT_EQ(Store.Image[size_t(made)].Height, 80);
    EXPECT_NE(HistoryText(made).find("Mosaik machen"), std::string::npos);
    EXPECT_EQ(Store.InUse[3], !lowMemory);
    if (!lowMemory) {
      EXPECT_EQ(Store.Image[1].Width, 100);  // the source stays
    }
  }
};

TEST_F(ImageMergeCommandsTest, MosaicInANewWindow) { MosaicOfTwo(false); }
TEST_F(ImageMergeCommandsTest, MosaicInPlaceWithTooLittleMemory) { MosaicOfTwo(true); }



TEST_F(ImageMergeCommandsTest, ExposureMergeIsNamedAfterTheSecondImage) {
  Open(1, 64, 32);
  Open(2, 64, 32);
  Store.FileName[2] = "/data/short.fit";
  ActivateImageWindow(1);
  EXPECT_TRUE(RunMenuCommand("mitunterschiedlicherBelichtungszeitkombinieren1"));
  QApplication::processEvents();
  ASSERT_TRUE(Store.HasWindow[3]);
  EXPECT_EQ(HistoryText(3), "Bild mit unterschiedlicher Belichtungszeit kombinieren");
  EXPECT_NE(Store.FileName[3].find("short"), std::string::npos) << Store.FileName[3];
  // Identical exposures give the image back.
  for (size_t i = 0; i < Store.Image[1].PixelCount(); ++i)
    ASSERT_NEAR(Store.Image[3].Planes[1][i], Store.Image[1].Planes[1][i], 0.2) << i;
}

}  // namespace
}  // namespace astrelon::test
