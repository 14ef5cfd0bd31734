// The masked flattening dialog: painting, erasing and bright-area marks in the
// mask, the computation with its button, and closing with or without a result.
#include <QAction>
#include <QPushButton>
#include <QSlider>
#include <fstream>
#include <functional>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "core/language.h"
#include "core/packed_params.h"
#include "pixelops/ui/flattening/background_flattening_commands.h"
#include "pixelops/ui/flattening/background_mask_dialog.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class BackgroundMaskDialogTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    Settings.PackedParams = PackedParamsDefault;  // radius 7 at position 17
    RegisterBackgroundFlatteningCommands();
  }
  void TearDown() override {
    if (TForm12* f = BackgroundMaskDialog()) f->Button1Click();
    QApplication::processEvents();
    SetEngineUi(nullptr);
    WindowTest::TearDown();
  }
  // Image 1 (w x h, a ramp with a bright spot) and the dialog over its copy in slot 2.
  TForm12* OpenDialog(int w = 96, int h = 72, bool spot = true) {
    Open(1, w, h);
    if (spot) Store.Image[1].At(1, w / 2, h / 2) = 5000;
    UpdateMinMax(1);
    QAction item(QString::fromUtf8("Hintergrund ebnen &variabel"));
    item.setObjectName("HintergrundebnenSterne21");
    EXPECT_TRUE(RunMenuCommand("HintergrundebnenSterne21", &item));
    QApplication::processEvents();
    return BackgroundMaskDialog();
  }
  // The widget position of an image pixel's centre.
  static QPoint At(const TForm12* f, int x, int y) {
    return {int((x + 0.5) / f->ScaleX()), int((y + 0.5) / f->ScaleY())};
  }
  static void Stroke(TForm12* f, const std::vector<QPoint>& image) {
    f->Image5MouseDown(At(f, image[0].x(), image[0].y()), Qt::LeftButton);
    for (const QPoint& p : image) f->Image5MouseMove(At(f, p.x(), p.y()));
    f->Image5MouseUp(Qt::LeftButton);
  }
  static std::vector<std::string> History(int slot) {
    std::vector<std::string> texts;
    for (const std::string& card : Store.Header[size_t(slot)].ActiveCards())
      if (card.rfind("HISTORY ", 0) == 0) texts.push_back(card.substr(8, card.find_last_not_of(' ') - 7));
    return texts;
  }

  HookUi ui_;
};

TEST_F(BackgroundMaskDialogTest, StrokesFillErasingAndClearing) {
  TForm12* f = OpenDialog();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Source(), 1);
  EXPECT_EQ(f->Destination(), 2);
  EXPECT_TRUE(Store.HasWindow[2]);
  const TByteMask& m = f->Mask();
  ASSERT_EQ(m.Width, 96);
  // A five-point stroke is removed.
  Stroke(f, {{10, 10}, {14, 10}});
  EXPECT_EQ(std::count(m.Bytes.begin(), m.Bytes.end(), 0), 96 * 72);
  // A longer one closes into a polygon of 1s; compared with an independent fill.
  const std::vector<QPoint> poly{{20, 10}, {60, 14}, {70, 50}, {30, 60}, {15, 35}};
  Stroke(f, poly);
  TempDir dir;
  {
    std::ofstream out(dir.path() / "mask.bin", std::ios::binary);
    out.write(reinterpret_cast<const char*>(m.Bytes.data()), std::streamsize(m.Bytes.size()));
  }
  const std::string script = R"(
import numpy as np
from skimage.draw import polygon
m = np.fromfile(')" + (dir.path() / "mask.bin").string() + R"(', dtype=np.uint8).reshape(72, 96)
assert set(np.unique(m)) <= {0, 1}, np.unique(m)
ref = np.zeros((72, 96), np.uint8)
rr, cc = polygon([10, 14, 50, 60, 35], [20, 60, 70, 30, 15], ref.shape)
ref[rr, cc] = 1
diff = np.argwhere(m != ref)
# Only pixels on the outline may differ.
from scipy.ndimage import binary_erosion, binary_dilation
edge = binary_dilation(ref, iterations=1) & ~binary_erosion(ref, iterations=1)
assert all(edge[r, c] for r, c in diff), diff[:10]
assert ref.sum() > 1000
)";
  EXPECT_TRUE(RunPython(script));
  // A right click inside erases the region; "Alle löschen" clears everything.
  f->Image5MouseDown(At(f, 40, 30), Qt::RightButton);
  EXPECT_EQ(std::count(m.Bytes.begin(), m.Bytes.end(), 0), 96 * 72);
  Stroke(f, poly);
  EXPECT_GT(std::count(m.Bytes.begin(), m.Bytes.end(), 1), 1000);
  f->SpeedButton1Click();
  EXPECT_EQ(std::count(m.Bytes.begin(), m.Bytes.end(), 0), 96 * 72);
}

TEST_F(BackgroundMaskDialogTest, BrightAreasByTheSlider) {
  TForm12* f = OpenDialog(96, 72, false);
  ASSERT_NE(f, nullptr);
  const TByteMask& m = f->Mask();
  f->TrackBar2->setValue(0);
  f->Timer2Timer();
  EXPECT_EQ(std::count(m.Bytes.begin(), m.Bytes.end(), 0), 96 * 72);
  // A high entry: the brightest pixels and their 4-neighbours, all 250.
  f->TrackBar2->setValue(10);
  f->Timer2Timer();
  const float level = f->BrightLevels()[10];
  const TImageSlot& s = Store.Image[1];
  int marked = 0;
  for (int y = 0; y < 72; ++y)
    for (int x = 0; x < 96; ++x) {
      const auto bright = [&](int u, int v) { return u >= 0 && v >= 0 && u < 96 && v < 72 && s.At(1, u, v) >= level; };
      const bool expect = bright(x, y) || bright(x - 1, y) || bright(x + 1, y) || bright(x, y - 1) || bright(x, y + 1);
      ASSERT_EQ(m.At(x, y), expect ? 250 : 0) << x << " " << y;
      marked += expect;
    }
  EXPECT_GT(marked, 96 * 72 / 20);
  EXPECT_LT(marked, 96 * 72 / 3);
}

TEST_F(BackgroundMaskDialogTest, ComputeFillsTheMaskedAreasAndOkWritesTwoCards) {
  TForm12* f = OpenDialog();
  ASSERT_NE(f, nullptr);
  Stroke(f, {{20, 10}, {60, 14}, {70, 50}, {30, 60}, {15, 35}});
  QString during;
  ui_.Hook = [&](int) {
    if (during.isEmpty()) during = f->Button3->text();
  };
  f->Button3Click();
  ui_.Hook = nullptr;
  EXPECT_EQ(during, "&Unterbrechen");
  EXPECT_EQ(f->Button3->text(), "&Berechnen");
  EXPECT_EQ(f->RadiusComputed(), 7);
  const TImageSlot& d = Store.Image[2];
  for (size_t i = 0; i < d.PixelCount(); ++i) ASSERT_TRUE(IsValidPixel(d.Planes[1][i])) << i;
  EXPECT_NE(d.At(1, 5, 5), Store.Image[1].At(1, 5, 5));
  const size_t before = History(2).size();
  f->Button2Click();
  QApplication::processEvents();
  EXPECT_EQ(BackgroundMaskDialog(), nullptr);
  ASSERT_TRUE(Store.HasWindow[2]);
  const auto cards = History(2);
  ASSERT_EQ(cards.size(), before + 2);
  EXPECT_EQ(cards[before], "Hintergrund ebnen variabel");
  EXPECT_EQ(cards[before + 1], "Ebnen Radius: 7");
  EXPECT_EQ(SlotPair.Source, -1);
}

TEST_F(BackgroundMaskDialogTest, CancelCloseAndOkWithoutResultRemoveTheSlot) {
  // "&Ok" before a computation: no card, no result.
  TForm12* f = OpenDialog();
  ASSERT_NE(f, nullptr);
  const auto cards = History(2);
  f->Button2Click();
  QApplication::processEvents();
  EXPECT_FALSE(Store.InUse[2]);
  // "&Abbrechen", and closing the window, after a computation.
  for (bool close : {false, true}) {
    f = OpenDialog();
    ASSERT_NE(f, nullptr);
    f->Button3Click();
    EXPECT_TRUE(Store.InUse[2]);
    if (close)
      f->close();
    else
      f->Button1Click();
    QApplication::processEvents();
    EXPECT_FALSE(Store.InUse[2]) << close;
    EXPECT_EQ(BackgroundMaskDialog(), nullptr);
  }
}

TEST_F(BackgroundMaskDialogTest, InterruptRestoresTheSource) {
  TForm12* f = OpenDialog(200, 150);
  ASSERT_NE(f, nullptr);
  ui_.Hook = [&](int) {
    if (f->Button3->isEnabled()) f->Button3Click();  // "&Unterbrechen"
  };
  f->Button3Click();
  ui_.Hook = nullptr;
  AbortRequested = 0;
  EXPECT_EQ(f->RadiusComputed(), 0);
  EXPECT_EQ(Store.Image[2].Planes[1], Store.Image[1].Planes[1]);
  EXPECT_TRUE(f->Button3->isEnabled());
  EXPECT_EQ(f->Button3->text(), "&Berechnen");
}

TEST_F(BackgroundMaskDialogTest, ClosingWhileComputingEndsAfterTheRun) {
  TForm12* f = OpenDialog(200, 150);
  ASSERT_NE(f, nullptr);
  bool closed = false;
  ui_.Hook = [&](int) {
    if (!closed && f->Computing()) {
      closed = true;
      f->close();
    }
  };
  f->Button3Click();
  ui_.Hook = nullptr;
  QApplication::processEvents();
  EXPECT_TRUE(closed);
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_EQ(BackgroundMaskDialog(), nullptr);
  EXPECT_EQ(AbortRequested, 1);
  AbortRequested = 0;
}

TEST_F(BackgroundMaskDialogTest, RadiusSurvivesThroughItsSetting) {
  TForm12* f = OpenDialog();
  ASSERT_NE(f, nullptr);
  f->TrackBar1->setValue(23);
  f->Button1Click();
  QApplication::processEvents();
  EXPECT_EQ(GetParamDigits(17), 23);
  CloseImageSlot(1);
  f = OpenDialog();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->TrackBar1->value(), 23);
}

}  // namespace
}  // namespace astrelon::test
