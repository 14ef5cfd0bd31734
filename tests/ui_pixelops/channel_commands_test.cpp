// The channel commands from the menu: three grey images into RGB, a colour image
// split into three, an image moved onto another's grid, the Gaussian PSF image
// and the choice of the PSF star.
#include "pixelops/ui/colour/channel_commands.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <memory>
#include <vector>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "filters/sharpening/psf/psf_source.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class ChannelCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterChannelCommands();
  }
  void TearDown() override {
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }
  // Answers the next choosers in turn with the rows (-1: Cancel).
  static void ChooseRows(std::vector<int> rows) {
    if (rows.empty()) return;
    WhenModal([rows](QWidget* w) {
      auto* form = qobject_cast<TForm4*>(w);
      ASSERT_NE(form, nullptr);
      ChooseRows({rows.begin() + 1, rows.end()});
      if (rows[0] < 0) return form->Button2->click();
      form->ListBox1->setCurrentRow(rows[0]);
      form->Button1->click();
    });
  }
  static void Run(const char* name) {
    EXPECT_TRUE(RunMenuCommand(name));
    QApplication::processEvents();
  }
  static void Mark(int slot, int x, int y) {
    TMDIChild* w = ImageWindow(slot);
    w->Overlay().Image2.Visible = true;
    w->Overlay().Image2.Bounds = QRect(x - 10, y - 10, 21, 21);
  }

  TEngineUi ui_;
};

TEST_F(ChannelCommandsTest, OneGreyImageChosenThreeTimesGivesAGreyLookingColourImage) {
  for (int s = 1; s <= 3; ++s) Open(s, 6, 5);
  Store.FileName[1] = "/night/l.fit";
  ChooseRows({0, 0, 0});
  Run("N3swBilderzuRGB1");
  ASSERT_NE(ImageWindow(4), nullptr);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(PlaneValues(4, p), PlaneValues(1, 1)) << p;
  EXPECT_EQ(Store.FileName[4], "/night/RGB_neu.fit");
  EXPECT_EQ(HistoryText(4), "3 s/w Bilder zu RGB Bild");

  ChooseRows({0, 0, -1});  // the third choice is cancelled
  Run("N3swBilderzuRGB1");
  EXPECT_FALSE(Store.InUse[5]);
}

TEST_F(ChannelCommandsTest, WithFortySixImagesOpenNothingIsAsked) {
  for (int s = 1; s <= 46; ++s) MakeImage(s, 2, 2);
  Run("N3swBilderzuRGB1");  // a chooser would wait for an answer
  EXPECT_FALSE(Store.InUse[47]);
}

TEST_F(ChannelCommandsTest, SplittingAnRgbImageOpensThreeGreyWindows) {
  Open(1, 4, 3);
  TImageSlot& im = Store.Image[1];
  im.IsColor = 1;
  im.PlaneCount = 3;
  for (int p = 2; p <= 3; ++p) im.Planes[size_t(p)].assign(12, float(10 * p));
  Store.FileName[1] = "/a/c.fit";
  ActivateImageWindow(1);
  Run("RGBzu3swBilder1");
  const char* names[] = {"/a/Rot_von_c.fit", "/a/Gruen_von_c.fit", "/a/Blau_von_c.fit"};
  for (int s = 2; s <= 4; ++s) {
    ASSERT_NE(ImageWindow(s), nullptr);
    EXPECT_EQ(Store.FileName[size_t(s)], names[s - 2]);
    EXPECT_EQ(PlaneValues(s, 1), PlaneValues(1, s - 1));
    EXPECT_EQ(HistoryText(s), "");
  }
}

TEST_F(ChannelCommandsTest, AnImageMovesOntoTheMarkedPointOfTheOther) {
  Open(1, 40, 30);
  Open(2, 40, 30);
  // Image 2 holds image 1 moved 3 right and 2 down.
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) Store.Image[2].Planes[1][size_t(y * 40 + x)] = float((x - 3) + 2 * (y - 2));
  Mark(1, 20, 15);
  Mark(2, 23, 17);
  ActivateImageWindow(2);
  Run("Bildabbilden1");
  ASSERT_TRUE(Store.HasWindow[3]);
  for (int y = 0; y < 27; ++y)
    for (int x = 0; x < 36; ++x) ASSERT_EQ(PlaneValues(3, 1)[size_t(y * 40 + x)], float(x + 2 * y)) << x << "," << y;
  EXPECT_EQ(PlaneValues(3, 1)[39], BlankPixel);  // from outside image 2
  EXPECT_EQ(HistoryText(3), "Bild an ein Zweites anpassen (verschieben)");
  EXPECT_EQ(SlotPair.Source, -1);
}

TEST_F(ChannelCommandsTest, PsfImageFromTheTypedRadius) {
  {
    PromptAnswers answers({QString("abc"), QString("0.099"), QString("2.5")});
    Run("PSFbildmitgauverteilunggenerieren1");
    Run("PSFbildmitgauverteilunggenerieren1");
    EXPECT_FALSE(Store.InUse[1]);
    Run("PSFbildmitgauverteilunggenerieren1");
  }
  ASSERT_NE(ImageWindow(1), nullptr);
  EXPECT_EQ(Store.Image[1].Width, 25);
  EXPECT_EQ(Store.FileName[1], "PSFGauss1");
}

TEST_F(ChannelCommandsTest, ThePsfComesFromTheMarkedStarOrAMessageSaysSo) {
  Open(1, 60, 50);
  std::fill(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end(), 100.0f);
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      Store.Image[1].Planes[1][size_t((25 + dy) * 60 + 30 + dx)] = 100.0f + 1000.0f / float(1 + dx * dx + dy * dy);
  UpdateMinMax(1);
  Mark(1, 30, 25);
  Options.PsfScale = 1;
  ASSERT_TRUE(PickPsfSourceImage(1));
  EXPECT_EQ(PsfStore.OriginX + 15, 30);
  EXPECT_EQ(PsfStore.OriginY + 15, 25);
  EXPECT_EQ(PsfStore.At(1, 0, 0), 0.0f);  // the flat border levelled to 0
  EXPECT_EQ(PsfStore.At(1, 15, 15), 1000.0f);

  ImageWindow(1)->Overlay().Image2.Visible = false;
  ChooseRows({-1});
  EXPECT_FALSE(PickPsfSourceImage(1));
  ASSERT_FALSE(ui_.Messages.empty());
  EXPECT_EQ(ui_.Messages.back(), "Die PSF konnte nicht bestimmt werden. Bitte die PSF markieren!");
}

}  // namespace
}  // namespace astrelon::test
