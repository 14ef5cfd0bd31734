// The DDP dialog in a main window: its menu item, the slider positions from
// the packed parameters and back, "Radius:" waiting for "&Berechnen",
// "Gammawert:" recomputing at once, the masks of a grey image, "&Ok" with its
// card and "&Abbruch" leaving the free slots as they were.
#include "filters/ui/ddp_dialog.h"

#include <QAction>
#include <QPushButton>
#include <QSlider>

#include "core/packed_params.h"
#include "core/settings.h"
#include "filter_dialog_fixture.h"
#include "filters/ui/radio_group.h"
#include "qt_test_app.h"
#include "shell/ui/menu/main_menu.h"

namespace astrelon::test {
namespace {

class DdpDialogTest : public FilterDialogTest {
protected:
  void SetUp() override {
    FilterDialogTest::SetUp();
    savedParams_ = Settings.PackedParams;
    Settings.PackedParams = PackedParamsDefault;
  }
  void TearDown() override {
    if (TForm16* f = DdpDialog(); f && f->isVisible()) f->Button3Click();
    Settings.PackedParams = savedParams_;
    FilterDialogTest::TearDown();
  }
  // A bright blob on a sloped background in slot 1, DDP started on it.
  TForm16* StartDdp() {
    area_->setActiveSubWindow(Open(1, 48, 32));
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 48; ++x)
        Store.Image[1].At(1, x, y) = float(x + 2 * y) + 2000.0f * std::exp(-((x - 20) * (x - 20) + (y - 12) * (y - 12)) / 30.0f);
    UpdateMinMax(1);
    EXPECT_TRUE(RunMenuCommand("DDP1"));
    QApplication::processEvents();
    return DdpDialog();
  }
  std::string savedParams_;
};

TEST_F(DdpDialogTest, SlidersRadiusAndGammaAndOk) {
  TForm16* f = StartDdp();
  ASSERT_NE(f, nullptr);
  ASSERT_TRUE(f->isVisible());
  ASSERT_TRUE(SlotInUse(2));
  EXPECT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(f->TrackBar1->value(), 25);
  EXPECT_EQ(f->TrackBar3->value(), 15);
  EXPECT_EQ(f->Label8->text(), "1.5");
  EXPECT_FALSE(f->Button1->isEnabled());
  EXPECT_FALSE(f->RadioGroup1->isEnabled()) << "a grey image has no masks";
  EXPECT_EQ(f->Session().CachedRadius(), 15);
  const TPlane first = Store.Image[2].Planes[1];
  EXPECT_NE(first, Store.Image[1].Planes[1]);

  // "Radius:" waits for "&Berechnen".
  f->TrackBar3->setValue(30);
  EXPECT_EQ(f->Label8->text(), "3");
  EXPECT_TRUE(f->Button1->isEnabled());
  QTest::qWait(250);
  EXPECT_EQ(Store.Image[2].Planes[1], first);
  f->Button1->click();
  QApplication::processEvents();
  EXPECT_EQ(f->Session().CachedRadius(), 30);
  EXPECT_FALSE(f->Button1->isEnabled());
  EXPECT_EQ(f->Button1->text(), "&Berechnen");
  const TPlane second = Store.Image[2].Planes[1];
  EXPECT_NE(second, first);

  // "Gammawert:" recomputes from the cached blur once the timer has run.
  f->TrackBar1->setValue(60);
  QTest::qWait(250);
  EXPECT_NE(Store.Image[2].Planes[1], second);
  EXPECT_EQ(f->Session().CachedRadius(), 30);

  f->Button2->click();
  QApplication::processEvents();
  EXPECT_FALSE(f->isVisible());
  EXPECT_TRUE(History(2).ends_with("DDP")) << History(2);
  EXPECT_EQ(GetParamDigits(DdpGammaParam), 60);
  EXPECT_EQ(GetParamDigits(DdpRadiusParam), 30);
  EXPECT_EQ(FindFreeSlot(), 3) << "the blur slot is released";
  EXPECT_EQ(SlotPair.Destination, -1);
}

TEST_F(DdpDialogTest, AbbruchLeavesTheSlotsAndPositionsReturn) {
  area_->setActiveSubWindow(Open(1, 48, 32));
  const int freeBefore = FindFreeSlot();
  TForm16* f = StartDdp();
  ASSERT_NE(f, nullptr);
  f->TrackBar1->setValue(70);
  f->TrackBar3->setValue(7);
  QTest::qWait(200);
  f->Button3->click();
  QApplication::processEvents();
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_EQ(FindFreeSlot(), freeBefore);
  // The next show takes the positions stored when the dialog hid.
  f = StartDdp();
  EXPECT_EQ(f->TrackBar1->value(), 70);
  EXPECT_EQ(f->TrackBar3->value(), 7);
  EXPECT_EQ(f->Label8->text(), "0.7");
}

TEST_F(DdpDialogTest, ColourImagesOfferTheMasks) {
  OpenActive(30, 20, {std::vector<float>(600, 100.0f), std::vector<float>(600, 200.0f), std::vector<float>(600, 300.0f)});
  ASSERT_TRUE(RunMenuCommand("DDP1"));
  QApplication::processEvents();
  TForm16* f = DdpDialog();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->RadioGroup1->isEnabled());
  EXPECT_EQ(f->RadioGroup2->ItemIndex(), 1);
  EXPECT_TRUE(SlotInUse(2));
}

}  // namespace
}  // namespace astrelon::test
