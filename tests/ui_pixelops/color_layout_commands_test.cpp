// The colour-correction dialog with its preview, Ok, Abbruch and files; a grey
// image expanded to RGB; an RGB image made into a mosaic; and the commands that
// prepare a result slot and open another tool's dialog (stand-in forms here).
#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <algorithm>
#include <filesystem>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "filters/dialog/filter_state.h"
#include "filters/ui/filter_commands.h"
#include "filters/ui/filter_dialog.h"
#include "pixelops/ui/colour/color_correction_dialog.h"
#include "pixelops/ui/colour/color_layout_commands.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/tool_launch_commands.h"
#include "qt_test_app.h"
#include "registration/ui/manual_combination_start.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/color_models.h"

namespace astrelon::test {
namespace {

class ColorLayoutCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterColorLayoutCommands();
    RegisterToolLaunchCommands();
  }
  void TearDown() override {
    if (TForm18* d = ColorCorrectionDialog()) d->hide();
    for (int n : {DeconvolutionForm, WaveletFilterForm, ManualCombinationForm}) {
      if (QWidget* f = DialogForm(n)) f->hide();
      RegisterDialogForm(n, nullptr);
    }
    ManualCombinationStarter = nullptr;
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }
  // A colour image of three planes: red 10·i, green 1000 + i, blue 7.
  void OpenColour(int slot, int w, int h) {
    Open(slot, w, h);
    TImageSlot& im = Store.Image[size_t(slot)];
    im.PlaneCount = 3;
    im.IsColor = 1;
    im.AllocatePlanes(3);
    for (size_t i = 0; i < im.PixelCount(); ++i) {
      im.Planes[1][i] = float(10 * i);
      im.Planes[2][i] = float(1000 + i);
      im.Planes[3][i] = 7;
    }
    SetHeader3Axis(slot);
    Store.Display[size_t(slot)].DisplayType = DtColorRgb;
    UpdateMinMax(slot);
    ActivateImageWindow(slot);
  }
  static void Run(const char* name, const char* caption) {
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
  }
  static std::vector<std::string> History(int slot) {
    std::vector<std::string> texts;
    for (const std::string& c : Store.Header[size_t(slot)].ActiveCards())
      if (c.rfind("HISTORY ", 0) == 0) {
        std::string t = c.substr(8);
        t.erase(t.find_last_not_of(' ') + 1);
        texts.push_back(t);
      }
    return texts;
  }
  TEngineUi ui_;
};

TEST_F(ColorLayoutCommandsTest, ColourCorrectionPreviewsAndKeepsTheResultOnOk) {
  Open(1, 4, 3);
  Run("Farbkorrektur1", "Farbkorrektur");
  EXPECT_EQ(CountOpenWindows(), 1);  // a grey image: nothing opens
  EXPECT_FALSE(ColorCorrectionDialog() && ColorCorrectionDialog()->isVisible());

  OpenColour(2, 4, 3);
  Run("Farbkorrektur1", "Farbkorrektur");
  TForm18* d = ColorCorrectionDialog();
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(d->isVisible());
  ASSERT_TRUE(Store.HasWindow[3]);
  EXPECT_EQ(SlotPair.Source, 2);
  EXPECT_EQ(SlotPair.Destination, 3);
  EXPECT_EQ(OperationRunning, 1);
  EXPECT_TRUE(ColorCorrectionActive);
  EXPECT_TRUE(MainLink().ColourListsLocked);
  EXPECT_EQ(RecentFunctionCaption(0), "Farbkorrektur");

  // A red row of 50, 50, 0 averages red and green, 500 ms after the last change.
  d->RxSpinEdit[0]->setValue(50);
  d->RxSpinEdit[1]->setValue(50);
  EXPECT_TRUE(d->Timer1->isActive());
  EXPECT_EQ(d->Timer1->interval(), 500);
  d->SpinEdit1Change();
  EXPECT_FLOAT_EQ(Store.Image[3].At(1, 1, 1), (50.0f + 1005.0f) / 2);
  EXPECT_FLOAT_EQ(Store.Image[3].At(2, 1, 1), 1005.0f);
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 1, 1), 50.0f);  // the source stays
  // Reset goes back to the identity and previews at once.
  d->Button3Click();
  EXPECT_FLOAT_EQ(Store.Image[3].At(1, 1, 1), 50.0f);
  EXPECT_FALSE(d->Timer1->isActive());

  const size_t before = History(3).size();
  d->Button1Click();
  EXPECT_FALSE(d->isVisible());
  EXPECT_TRUE(Store.InUse[3]);
  const auto h = History(3);
  ASSERT_EQ(h.size(), before + 4);
  EXPECT_EQ(std::vector<std::string>(h.end() - 4, h.end()),
            (std::vector<std::string>{"Farbkorrektur", "Rot: 100 0 0", "Gruen: 0 100 0", "Blau: 0 0 100"}));
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_EQ(SlotPair.Source, -1);
  EXPECT_FALSE(ColorCorrectionActive);
  EXPECT_FALSE(MainLink().ColourListsLocked);
}

TEST_F(ColorLayoutCommandsTest, ColourCorrectionAbortAndFiles) {
  OpenColour(1, 4, 3);
  Run("Farbkorrektur1", "Farbkorrektur");
  TForm18* d = ColorCorrectionDialog();
  ASSERT_NE(d, nullptr);
  d->RxSpinEdit[4]->setValue(12.5);
  d->SpinEdit1Change();

  TempDir dir;
  d->SaveFile(QString::fromStdString(dir.file("x.txt")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.txt")));
  const auto bytes = ReadAll(dir.file("x.qzf"));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "100\n0\n0\n0\n12.5\n0\n0\n0\n100\n");

  // A short file and one with a word are refused; the fields keep their values.
  WriteText(dir.file("short.qzf"), "1\n2\n3\n");
  WriteText(dir.file("word.qzf"), "1\n2\n3\n4\nfünf\n6\n7\n8\n9\n");
  for (const char* name : {"short.qzf", "word.qzf"}) {
    ui_.Messages.clear();
    d->LoadFile(QString::fromStdString(dir.file(name)));
    EXPECT_EQ(ui_.Messages.size(), 1u) << name;
    EXPECT_EQ(d->FieldMatrix().Percent[4], 12.5) << name;
  }
  // A missing file is passed over in silence; a good one loads and previews.
  ui_.Messages.clear();
  d->LoadFile(QString::fromStdString(dir.file("none.qzf")));
  EXPECT_TRUE(ui_.Messages.empty());
  WriteText(dir.file("swap.qzf"), "0\n100\n0\n100\n0\n0\n0\n0\n100\n");
  d->LoadFile(QString::fromStdString(dir.file("swap.qzf")));
  EXPECT_FALSE(d->Timer1->isActive());
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 1, 1), 1005.0f);
  EXPECT_FLOAT_EQ(Store.Image[2].At(2, 1, 1), 50.0f);

  // Abbruch removes the result window and slot.
  d->Button2Click();
  QApplication::processEvents();
  EXPECT_FALSE(d->isVisible());
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_FALSE(Store.HasWindow[2]);
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_EQ(CountOpenWindows(), 1);
}

TEST_F(ColorLayoutCommandsTest, ExpandToRgbAndBayerPattern) {
  Open(1, 4, 2);
  Run("RGBzuBayerPattern1", "&RGB zu Bayer-Pattern");
  EXPECT_EQ(CountOpenWindows(), 1);  // a grey image: nothing
  Run("BildnachRGBerweitern1", "Bild nach RGB erweitern");
  const TImageSlot& s = Store.Image[1];
  ASSERT_EQ(s.PlaneCount, 3);
  EXPECT_TRUE(s.IsColor);
  EXPECT_EQ(Store.Display[1].DisplayType, DtColorRgb);
  EXPECT_EQ(std::vector<float>(s.Planes[3].begin(), s.Planes[3].end()),
            std::vector<float>(s.Planes[1].begin(), s.Planes[1].end()));
  EXPECT_EQ(History(1).back(), "Bild nach RGB erweitern");
  EXPECT_EQ(RecentFunctionCaption(0), "Bild nach RGB erweitern");
  // Again on the colour image: nothing changes.
  const size_t cards = History(1).size();
  Run("BildnachRGBerweitern1", "Bild nach RGB erweitern");
  EXPECT_EQ(History(1).size(), cards);

  OpenColour(2, 4, 2);
  Run("RGBzuBayerPattern1", "&RGB zu Bayer-Pattern");
  ASSERT_TRUE(Store.HasWindow[3]);
  const TImageSlot& m = Store.Image[3];
  EXPECT_EQ(m.PlaneCount, 1);
  EXPECT_EQ(m.At(1, 0, 0), 0.0f);      // red
  EXPECT_EQ(m.At(1, 1, 0), 1001.0f);   // green
  EXPECT_EQ(m.At(1, 0, 1), 1004.0f);   // green
  EXPECT_EQ(m.At(1, 1, 1), 7.0f);      // blue
  EXPECT_EQ(GetHeaderValue(3, "NAXIS", false), "2");
  EXPECT_EQ(History(3), History(2));  // no card of its own
}

TEST_F(ColorLayoutCommandsTest, LaunchersWaitForTheirFormsThenPrepareTheResult) {
  Open(1, 8, 6);
  for (const char* name : {"FFTpsfschaerfen1", "WaveletFilter1", "BildaddierenmitmanuellerVerschiebung1"}) {
    EXPECT_TRUE(HasMenuCommand(name)) << name;
    EXPECT_FALSE(MenuCommandAvailable(name)) << name;
    Run(name, "x");
    EXPECT_EQ(CountOpenWindows(), 1) << name;
  }
  EXPECT_TRUE(MenuCommandAvailable("CIELABHelligkeitKontrast1"));

  struct Case {
    const char* name;
    const char* caption;
    int form;
  };
  for (const Case& c : {Case{"FFTpsfschaerfen1", "&Entfalten (Deconvolution)", DeconvolutionForm},
                        Case{"WaveletFilter1", "Wavelet Rauschfilter", WaveletFilterForm}}) {
    RegisterDialogForm(c.form, [] { return new QWidget; });
    EXPECT_TRUE(MenuCommandAvailable(c.name));
    ActivateImageWindow(1);
    const int windows = CountOpenWindows();
    Run(c.name, c.caption);
    EXPECT_EQ(CountOpenWindows(), windows + 1) << c.name;
    EXPECT_EQ(SlotPair.Source, 1) << c.name;
    EXPECT_TRUE(Store.HasWindow[size_t(SlotPair.Destination)]) << c.name;
    ASSERT_NE(DialogForm(c.form), nullptr);
    EXPECT_TRUE(DialogForm(c.form)->isVisible());
    EXPECT_EQ(RecentFunctionCaption(0), QString::fromUtf8(c.caption).remove('&'));
    DialogForm(c.form)->hide();
    SlotPair = {};
  }
}

TEST_F(ColorLayoutCommandsTest, ManualCombinationIsHandedBothImagesAndTheMedian) {
  Open(1, 5, 5);
  Open(2, 5, 5);  // values x + 2y: the median is 6
  ActivateImageWindow(1);
  TManualCombinationStart got;
  RegisterDialogForm(ManualCombinationForm, [] { return new QWidget; });
  ManualCombinationStarter = [&got](QWidget*, const TManualCombinationStart& s) { got = s; };
  Run("BildaddierenmitmanuellerVerschiebung1", "Bild kombinieren mit manueller Verschiebung");
  EXPECT_EQ(got.Second, 2);
  EXPECT_EQ(got.Active, 1);
  EXPECT_NEAR(got.Level, 6.0, 0.01);
  EXPECT_EQ(SlotPair.Source, 2);
  EXPECT_EQ(SlotPair.Destination, 1);
  EXPECT_EQ(OperationRunning, 1);
  EXPECT_TRUE(DialogForm(ManualCombinationForm)->isVisible());
  EXPECT_EQ(RecentFunctionCaption(0), "Bild kombinieren mit manueller Verschiebung");
  EXPECT_EQ(CountOpenWindows(), 2);
}

TEST_F(ColorLayoutCommandsTest, CielabOpensTheFilterDialogOnAnRgbCopy) {
  RegisterFilterCommands();
  OpenColour(1, 8, 6);
  RGBtoYUV(1);
  ASSERT_EQ(Store.Image[1].ColorModel, CmYuv);
  Run("CIELABHelligkeitKontrast1", "CIELAB Helligkeit+Kontrast");
  EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
  EXPECT_EQ(FunktionNr, CielabFunction);
  ASSERT_TRUE(Store.HasWindow[2]);
  TForm1* f = FilterDialog();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->isVisible());
  EXPECT_EQ(f->windowTitle(), "CIELAB Helligkeit+Kontrast");
  EXPECT_EQ(RecentFunctionCaption(0), "CIELAB Helligkeit+Kontrast");
  f->close();
  QApplication::processEvents();
}

}  // namespace
}  // namespace astrelon::test
