// The preview dialogs keep their source and result in one colour model and
// channel selection: switching either image switches the other and the dialog
// previews anew.
#include <QAction>
#include <cmath>
#include <functional>

#include "filter_dialog_fixture.h"
#include "frequency/ui/frequency_filter_commands.h"
#include "frequency/ui/frequency_filter_dialog.h"
#include "pixelops/ui/flattening/background_flattening_commands.h"
#include "pixelops/ui/flattening/background_mask_dialog.h"
#include "pixelops/ui/pixels/image_tool_commands.h"
#include "pixelops/ui/pixels/synthetic_noise_dialog.h"
#include "shell/stars/star_pick.h"
#include "shell/windows/image_window_state.h"
#include "store/color_models.h"

namespace astrelon::test {
namespace {

struct TDialogCase {
  const char* Item;
  std::function<void()> Close;
  // Brings the dialog to its state after a computation.
  std::function<void()> Settle;
  // Whether the dialog shows a preview made after the switch (or offers one).
  std::function<bool()> Previewed;
};

class PreviewPartnersTest : public FilterDialogTest {
protected:
  static void SetUpTestSuite() {
    FilterDialogTest::SetUpTestSuite();
    RegisterBackgroundFlatteningCommands();
    RegisterImageToolCommands();
    RegisterFrequencyFilterCommands();
  }
  // An RGB image of smooth colour with some texture in slot 1, active.
  void OpenColour(int w = 48, int h = 32) {
    std::vector<std::vector<float>> planes(3, std::vector<float>(size_t(w * h)));
    for (int p = 0; p < 3; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          planes[size_t(p)][size_t(y * w + x)] =
              500.0f + 150.0f * float(p) + 4.0f * float(x) + 40.0f * std::sin(0.7f * float(x * (p + 1) + y));
    OpenActive(w, h, planes);
  }
  // The tool bar's colour-space switch of a slot.
  static void Switch(int slot) {
    const bool yuv = Store.Image[size_t(slot)].ColorModel == CmYuv;
    ASSERT_TRUE(yuv ? YUVtoRGB(slot) : RGBtoYUV(slot));
    ImageChanged(slot);
    UpdateInfoPanel(slot, 1);
    QApplication::processEvents();
  }
  // Blanks the result's first pixel (which a colour conversion keeps blank),
  // so that a new preview shows.
  static void Mark() {
    for (int p = 1; p <= 3; ++p) Store.Image[2].At(p, 0, 0) = BlankPixel;
  }
  static bool MarkGone() {
    for (int p = 1; p <= 3; ++p)
      if (IsValidPixel(Store.Image[2].At(p, 0, 0))) return true;
    return false;
  }
};

TEST_F(PreviewPartnersTest, EachDialogFollowsColourSwitchesOfItsImages) {
  const TDialogCase cases[] = {
      // "Gauss glätten" computes on "&Berechnen": the switch enables it.
      {"Gaussgltten1", [this] { form->Button2Click(); },
       [this] {
         if (form->Button3->isEnabled()) form->Button3->click();
         ASSERT_FALSE(form->Button3->isEnabled());
       },
       [this] { return form->Button3->isEnabled(); }},
      {"HintergrundebnenSterne21",
       [] {
         if (TForm12* d = BackgroundMaskDialog()) d->Button1Click();
       },
       [] { BackgroundMaskDialog()->Button3->setEnabled(false); },
       [] {
         // The mask dialog previews the result's picture; "&Berechnen" is enabled.
         const TForm12* d = BackgroundMaskDialog();
         return d && d->Button3->isEnabled() && !d->PreviewBase().isNull();
       }},
      {"objectRauschenhinzufgen11TMenuItem1",
       [] {
         if (TForm28* d = SyntheticNoiseDialog()) d->close();
       },
       nullptr, MarkGone},
      {"Frequenzfilter1",
       [] {
         if (TForm6* d = FrequencyFilterDialog()) d->AbbrechenClick();
       },
       [] { FrequencyFilterDialog()->BerechnenButton->click(); },
       [] { return MarkGone() && FrequencyFilterDialog()->BerechnenButton->isEnabled(); }},
  };
  for (const TDialogCase& c : cases) {
    SCOPED_TRACE(c.Item);
    OpenColour();
    QAction item(c.Item);
    item.setObjectName(c.Item);
    ASSERT_TRUE(RunMenuCommand(c.Item, &item));
    QApplication::processEvents();
    ASSERT_TRUE(SlotInUse(2));
    ASSERT_EQ(Store.Image[2].ColorModel, CmRgb);

    auto settle = [&c] {
      if (c.Settle) c.Settle();
      Mark();
      EXPECT_FALSE(c.Previewed());
    };
    // The source switched: the result follows and is previewed anew.
    settle();
    Switch(1);
    EXPECT_EQ(Store.Image[2].ColorModel, CmYuv);
    EXPECT_EQ(Store.Display[2].DisplayType, DtColorYuv);
    EXPECT_TRUE(c.Previewed());
    // Back to RGB from the result's side: the source follows.
    Switch(2);
    EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
    EXPECT_EQ(Store.Image[2].ColorModel, CmRgb);
    // The channel selection follows too.
    settle();
    Store.Display[1].ChannelSelection = 2;
    UpdateInfoPanel(1, 2);
    EXPECT_EQ(Store.Display[2].ChannelSelection, 2);
    EXPECT_TRUE(c.Previewed());
    // Activating a window (no switch) changes nothing.
    settle();
    UpdateInfoPanel(1, 0);
    EXPECT_FALSE(c.Previewed());

    c.Close();
    QApplication::processEvents();
    // Closed, the images no longer follow each other.
    ASSERT_TRUE(SlotInUse(1));
    Store.Display[1].ChannelSelection = 0;
    Switch(1);
    if (SlotInUse(2)) {
      EXPECT_EQ(Store.Image[2].ColorModel, CmRgb);
    }
    area_->closeAllSubWindows();
    QApplication::processEvents();
  }
}

TEST_F(PreviewPartnersTest, FilterDialogInStarModeDropsTheLockedStarWhenItsResultSwitches) {
  OpenColour();
  ASSERT_TRUE(RunMenuCommand("Gaussgltten1"));
  QApplication::processEvents();
  const int mode = ToolMode;
  LockedStar.Analysed = 1;
  ToolMode = 1;
  Switch(2);
  EXPECT_EQ(LockedStar.Analysed, 1);  // not in the star mode
  ToolMode = 2;
  Switch(1);
  EXPECT_EQ(LockedStar.Analysed, 1);  // the source switched
  Switch(2);
  EXPECT_EQ(LockedStar.Analysed, 0);
  ToolMode = mode;
  LockedStar = {};
}

}  // namespace
}  // namespace astrelon::test
