// Multiplying by a second image, L+RGB and three grey images to YUV from the
// menu, on real image windows, with the image choices answered from a timer.
#include <QListWidget>
#include <QPushButton>
#include <memory>
#include <vector>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "common/paths.h"
#include "kernels/colour/color_to_mono.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/pixels/image_combination_commands.h"
#include "qt_test_app.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon::test {
namespace {

class ImageCombinationCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterImageCombinationCommands();
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    WindowTest::TearDown();
  }
  // An open colour image: planes 1, 2, 3 the grey ramp times 1, 2, 3, plus 1.
  void OpenColour(int slot, int w, int h) {
    MakeImage(slot, w, h);
    TImageSlot& im = Store.Image[size_t(slot)];
    for (int p = 3; p >= 1; --p) {
      im.Planes[size_t(p)] = im.Planes[1];
      for (float& v : im.Planes[size_t(p)]) v = v * float(p) + 1;
    }
    im.IsColor = 1;
    im.PlaneCount = 3;
    UpdateMinMax(slot);
    ShowImageWindow(slot);
    QApplication::processEvents();
  }
  static int SlotsInUse() {
    int n = 0;
    for (int s = 1; s <= MaxImageSlots; ++s) n += Store.InUse[size_t(s)];
    return n;
  }
  // Answers the next choice dialogs in turn: a row index, or -1 to cancel; the
  // titles are collected.
  void Choose(std::vector<int> rows) {
    auto queue = std::make_shared<std::vector<int>>(std::move(rows));
    auto titles = titles_;
    auto next = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weak = next;
    *next = [queue, titles, weak] {
      if (queue->empty()) return;
      WhenModal([queue, titles, weak](QWidget* w) {
        auto* form = qobject_cast<TForm4*>(w);
        ASSERT_NE(form, nullptr);
        titles->push_back(form->windowTitle());
        const int row = queue->front();
        queue->erase(queue->begin());
        if (auto n = weak.lock()) (*n)();
        if (row < 0) {
          form->Button2->click();
        } else {
          form->ListBox1->setCurrentRow(row);
          form->Button1->click();
        }
      });
    };
    keep_ = next;
    (*next)();
  }
  TEngineUi ui_;
  std::shared_ptr<std::vector<QString>> titles_ = std::make_shared<std::vector<QString>>();
  std::shared_ptr<std::function<void()>> keep_;
};

TEST_F(ImageCombinationCommandsTest, MultiplyTakesTheOtherWindowAndScalesWhenTheSettingIsOff) {
  Open(1, 4, 3);
  Open(2, 4, 3);
  Store.Image[2].Planes[1].assign(12, 0.05f);
  const uint8_t saved = Options.Scale;
  for (const uint8_t scaleSetting : {uint8_t(1), uint8_t(0)}) {
    Options.Scale = scaleSetting;
    ActivateImageWindow(1);
    const int result = FindFreeSlot();
    EXPECT_TRUE(RunMenuCommand("Bildmultiplizieren1"));
    QApplication::processEvents();
    ASSERT_TRUE(Store.HasWindow[size_t(result)]);
    const float s = scaleSetting ? 0.05f : 0.5f;  // 0.05 · 1 / max(0.05, 0.1)
    const std::vector<float> a = PlaneValues(1, 1), r = PlaneValues(result, 1);
    for (size_t i = 0; i < a.size(); ++i) EXPECT_CLOSE(r[i], a[i] * s, 1e-5) << i;
    EXPECT_EQ(HistoryText(result), "Bild multiplizieren");
    CloseImageSlot(result);
    QApplication::processEvents();
  }
  Options.Scale = saved;
}

TEST_F(ImageCombinationCommandsTest, LrgbNamesWhatIsMissing) {
  OpenColour(1, 4, 3);
  EXPECT_TRUE(RunMenuCommand("LRGBBildkombinieren1"));
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(ui_.Messages[0], "Es ist kein s/w Bild vorhanden");
  CloseImageSlot(1);
  QApplication::processEvents();
  Open(2, 4, 3);
  EXPECT_TRUE(RunMenuCommand("LRGBBildkombinierennichtskaliert1"));
  ASSERT_EQ(ui_.Messages.size(), 2u);
  EXPECT_EQ(ui_.Messages[1], "Es ist kein Farbbild vorhanden");
  EXPECT_EQ(SlotsInUse(), 1);
}

TEST_F(ImageCombinationCommandsTest, LrgbWithOneGreyAndOneColourImageAsksNothing) {
  OpenColour(1, 24, 16);
  // L: the colour image's own luminance on the same grid.
  ASSERT_TRUE(ConvertColorToMono(1, 2, false));
  ShowImageWindow(2);
  QApplication::processEvents();
  Settings.InterpolationKind = IkBicubic;
  ActivateImageWindow(1);
  for (const char* item : {"LRGBBildkombinierennichtskaliert1", "LRGBBildkombinieren1"}) {
    EXPECT_TRUE(RunMenuCommand(item));
    QApplication::processEvents();
    EXPECT_TRUE(titles_->empty());
    ASSERT_TRUE(Store.HasWindow[3]) << item;
    EXPECT_EQ(SlotsInUse(), 3) << item;  // the luminance slot is closed
    EXPECT_EQ(Settings.InterpolationKind, IkBicubic);
    const TImageSlot& r = Store.Image[3];
    EXPECT_TRUE(r.IsColor);
    EXPECT_EQ(r.PlaneCount, 3);
    EXPECT_EQ(HistoryText(3).substr(HistoryText(3).rfind('|') + 1), std::string(item) == "LRGBBildkombinieren1"
                                                                         ? "L+RGB Bild kombinieren auto. skaliert"
                                                                         : "L+RGB Bild kombinieren nicht skaliert");
    if (std::string(item) == "LRGBBildkombinierennichtskaliert1") {
      for (int p = 1; p <= 3; ++p) {
        const std::vector<float> c = PlaneValues(1, p), v = PlaneValues(3, p);
        for (size_t i = 0; i < c.size(); ++i) EXPECT_CLOSE(v[i], c[i], 1e-4) << p << " " << i;
      }
    }
    CloseImageSlot(3);
    QApplication::processEvents();
  }
}

TEST_F(ImageCombinationCommandsTest, LrgbAsksForLAmongSeveralGreyImages) {
  Open(1, 8, 6);
  Open(2, 8, 6);
  OpenColour(3, 8, 6);
  Choose({-1});  // cancel: nothing is made
  EXPECT_TRUE(RunMenuCommand("LRGBBildkombinieren1"));
  QApplication::processEvents();
  EXPECT_EQ(SlotsInUse(), 3);
  Choose({1});  // slot 2 as L; the only colour image is taken without asking
  EXPECT_TRUE(RunMenuCommand("LRGBBildkombinieren1"));
  QApplication::processEvents();
  EXPECT_EQ(*titles_, (std::vector<QString>{"Welches Bild als L:", "Welches Bild als L:"}));
  ASSERT_TRUE(Store.HasWindow[4]);
  EXPECT_EQ(SlotsInUse(), 4);
  EXPECT_TRUE(Store.Image[4].IsColor);
}

TEST_F(ImageCombinationCommandsTest, ThreeGreyImagesToYuv) {
  for (int s = 1; s <= 3; ++s) Open(s, 6, 5);
  // A cancelled choice at any of the three ends silently.
  for (size_t cancelAt = 0; cancelAt < 3; ++cancelAt) {
    std::vector<int> rows{0, 1, 2};
    rows[cancelAt] = -1;
    rows.resize(cancelAt + 1);
    titles_->clear();
    Choose(rows);
    EXPECT_TRUE(RunMenuCommand("N3swBilderzuYUVBild1"));
    QApplication::processEvents();
    EXPECT_EQ(SlotsInUse(), 3);
    EXPECT_EQ(titles_->size(), cancelAt + 1);
  }
  titles_->clear();
  Choose({0, 1, 2});
  EXPECT_TRUE(RunMenuCommand("N3swBilderzuYUVBild1"));
  QApplication::processEvents();
  EXPECT_EQ(*titles_, (std::vector<QString>{"Y:", "U:", "V:"}));
  ASSERT_TRUE(Store.HasWindow[4]);
  const TImageSlot& r = Store.Image[4];
  EXPECT_TRUE(r.IsColor);
  EXPECT_EQ(r.ColorModel, CmYuv);
  EXPECT_EQ(Store.Display[4].ChannelSelection, 0);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(PlaneValues(4, p), PlaneValues(1, 1)) << p;
  EXPECT_EQ(HistoryText(4), "3 s/w Bilder zu YUV Bild");
  EXPECT_EQ(ExtractFilePath(Store.FileName[4]), "/data/");
  EXPECT_NE(Store.FileName[4].find("YUV_neu"), std::string::npos);
  EXPECT_EQ(ExtractFileExt(Store.FileName[4]), ".fit");
}

TEST_F(ImageCombinationCommandsTest, YuvDoesNothingWithMoreThan45OpenImages) {
  for (int s = 1; s <= 3; ++s) Open(s, 6, 5);
  for (int s = 4; s <= 46; ++s) Store.InUse[size_t(s)] = 1;
  EXPECT_TRUE(RunMenuCommand("N3swBilderzuYUVBild1"));  // no choice is shown
  QApplication::processEvents();
  EXPECT_FALSE(Store.InUse[47]);
  for (int s = 4; s <= 46; ++s) Store.InUse[size_t(s)] = 0;
}

}  // namespace
}  // namespace astrelon::test
