// "Farb-&CCD zu RGB Bild": the dialog's pattern rules, the raw correction, the
// presets of a loaded RAW mosaic and a conversion into a new window.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "dng_writer.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/ui/mosaic/mosaic_commands.h"
#include "pixelops/ui/mosaic/mosaic_dialog.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/raw/camera_raw.h"
#include "store/ui/raw_format_editor.h"

namespace astrelon::test {
namespace {

class MosaicDialogTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterMosaicCommands();
    MosaicSettings = TMosaicSettings{};
    EngineUi().Messages.clear();
    EngineUi().DefaultAnswer = TDialogAnswer::Yes;
  }
  void TearDown() override {
    if (TForm13* d = MosaicDialog()) d->Button2Click();
    MosaicSettings = TMosaicSettings{};
    EngineUi().Messages.clear();
    WindowTest::TearDown();
  }
  // Opens the dialog on a w x h grey image whose pixels are f(x, y).
  template <typename F>
  TForm13* OpenOn(int w, int h, F f) {
    Open(1, w, h);
    TImageSlot& im = Store.Image[1];
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.At(1, x, y) = f(x, y);
    UpdateMinMax(1);
    ActivateImageWindow(1);
    EXPECT_TRUE(RunMenuCommand("FarbCCDzuRGBBild1"));
    TForm13* d = MosaicDialog();
    EXPECT_TRUE(d && d->isVisible());
    return d;
  }
  static void Choose(QComboBox* box, int index) { box->setCurrentIndex(index); }
  static std::array<int32_t, 4> Cells(const TForm13* d) {
    return {d->Cells[0]->currentIndex(), d->Cells[1]->currentIndex(), d->Cells[2]->currentIndex(),
            d->Cells[3]->currentIndex()};
  }
};

TEST_F(MosaicDialogTest, PatternRules) {
  TForm13* d = OpenOn(8, 8, [](int, int) { return 100.0f; });
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(SlotPair.Source, 1);
  EXPECT_EQ(OperationRunning, 1);
  // No method chosen yet and a Bayer pattern: the remembered one, or V.N.G.
  EXPECT_EQ(d->ComboBox9->currentIndex(), DmVng);
  for (const auto& [cells, bayer] : {std::pair{std::array{1, 0, 2, 1}, true}, std::pair{std::array{0, 1, 2, 1}, false},
                                     std::pair{std::array{2, 1, 1, 0}, true}}) {
    for (size_t i = 0; i < 4; ++i) Choose(d->Cells[i], cells[i]);
    EXPECT_EQ(IsStandardBayerPattern(MosaicSettings), bayer);
    EXPECT_EQ(d->Button1->isEnabled(), bayer);
  }
  // A Bayer method resets a cyan pattern to Rot, Grün, Grün, Blau.
  Choose(d->ComboBox9, DmLinear);
  Choose(d->Cells[1], McCyan);
  EXPECT_TRUE(d->Button1->isEnabled());
  EXPECT_FALSE(d->CheckBox2->isEnabled());
  Choose(d->ComboBox9, DmAstro);
  EXPECT_EQ(Cells(d), (std::array<int32_t, 4>{McRed, McGreen, McGreen, McBlue}));
  EXPECT_TRUE(d->CheckBox2->isEnabled());
  EXPECT_EQ(Settings.DemosaicMethod, DmAstro);
  // Four rows under a Bayer method: linear interpolation.
  d->CheckBox1->setChecked(true);
  EXPECT_EQ(d->ComboBox9->currentIndex(), DmLinear);
  EXPECT_TRUE(d->Cells[4]->isEnabled());
  EXPECT_FALSE(d->Button1->isEnabled());  // rows 2 and 3 not chosen
  // "v" moves the rows down, ">" swaps the columns.
  d->CheckBox1->setChecked(false);
  QTest::mouseClick(d->Button3, Qt::LeftButton);
  EXPECT_EQ(Cells(d), (std::array<int32_t, 4>{McGreen, McBlue, McRed, McGreen}));
  QTest::mouseClick(d->Button4, Qt::LeftButton);
  EXPECT_EQ(Cells(d), (std::array<int32_t, 4>{McBlue, McGreen, McGreen, McRed}));
  // Esc with no conversion running acts as "&Fenster zu".
  QTest::keyClick(d, Qt::Key_Escape);
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_EQ(SlotPair.Source, -1);
}

TEST_F(MosaicDialogTest, RawCorrectionInPlace) {
  TForm13* d = OpenOn(6, 6, [](int x, int y) { return x == 2 && y == 2 ? BlankPixel : 110.0f; });
  Store.Image[1].RawMultipliers[0] = 2.5f;
  Choose(d->ComboBox9, DmHalfSize);
  for (size_t i = 0; i < 4; ++i) Choose(d->Cells[i], std::array{0, 1, 1, 2}[i]);
  d->Edits[2]->setText("10");
  d->Edits[0]->setText("2");
  d->Edits[0]->textEdited("2");
  d->Edits[2]->textEdited("10");
  EngineUi().DefaultAnswer = TDialogAnswer::No;
  d->Button5Click();
  EXPECT_EQ(Store.Image[1].At(1, 0, 0), 110.0f);
  EngineUi().DefaultAnswer = TDialogAnswer::Yes;
  d->Button5Click();
  const TImageSlot& im = Store.Image[1];
  EXPECT_EQ(im.At(1, 0, 0), 200.0f);  // red
  EXPECT_EQ(im.At(1, 1, 0), 100.0f);  // green
  EXPECT_EQ(im.At(1, 1, 1), 100.0f);  // blue
  EXPECT_EQ(im.At(1, 2, 2), BlankPixel);
  EXPECT_EQ(im.RawMultipliers[0], 1.0f);
}

TEST_F(MosaicDialogTest, GenerateMakesAHalfSizeWindow) {
  TForm13* d = OpenOn(8, 6, [](int x, int y) { return float((x & 1) + 2 * (y & 1)) * 100.0f + 50.0f; });
  Choose(d->ComboBox9, DmHalfSize);
  QTest::mouseClick(d->Button1, Qt::LeftButton);
  const int r = d->LastResult();
  ASSERT_GT(r, 1);
  ASSERT_NE(ImageWindow(r), nullptr);
  EXPECT_EQ(Store.Image[size_t(r)].Width, 4);
  EXPECT_EQ(Store.Image[size_t(r)].At(1, 0, 0), 50.0f);
  EXPECT_EQ(Store.Image[size_t(r)].At(2, 0, 0), 200.0f);
  EXPECT_EQ(Store.Image[size_t(r)].At(3, 0, 0), 350.0f);
  // A closed source: nothing.
  d->SetSource(40);
  QTest::mouseClick(d->Button1, Qt::LeftButton);
  EXPECT_EQ(d->LastResult(), r);
}

TEST_F(MosaicDialogTest, ColourImageIsRefused) {
  std::vector<std::vector<float>> planes(3, std::vector<float>(36, 1.0f));
  test::MakeImage(1, 6, 6, planes);
  ShowImageWindow(1);
  ActivateImageWindow(1);
  ASSERT_TRUE(RunMenuCommand("FarbCCDzuRGBBild1"));
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "Das Bild muß s/w sein");
  EXPECT_EQ(OperationRunning, 0);
}

// A RAW file loaded as its mosaic presets the cells from its filter pattern,
// turned for a portrait image; a known camera sets the multipliers.
TEST_F(MosaicDialogTest, RawMosaicPresets) {
  TempDir dir;
  for (const auto& [w, h, pattern, make, cells, rmul] :
       {std::tuple{32, 24, std::array<uint8_t, 4>{0, 1, 1, 2}, "Testkamera", std::array<int32_t, 4>{0, 1, 1, 2}, ""},
        std::tuple{24, 32, std::array<uint8_t, 4>{0, 1, 1, 2}, "Testkamera", std::array<int32_t, 4>{1, 0, 2, 1}, ""},
        std::tuple{32, 24, std::array<uint8_t, 4>{1, 2, 0, 1}, "Testkamera", std::array<int32_t, 4>{1, 2, 0, 1}, ""},
        std::tuple{32, 24, std::array<uint8_t, 4>{0, 1, 1, 2}, "Canon", std::array<int32_t, 4>{0, 1, 1, 2}, "2.0000"}}) {
    TDngLayout dng;
    dng.Width = w;
    dng.Height = h;
    dng.Pattern = pattern;
    dng.Cfa = MakeTestMosaic(w, h, 1100, 9000, 3);
    dng.Make = make;
    dng.Model = std::string(make) == "Canon" ? "EOS 5D Mark II" : "TK-1";
    dng.AsShotNeutral = {0.5, 1.0, 0.8};
    const std::string file = dir.file("m.dng");
    ASSERT_TRUE(WriteDng(file, dng));
    ASSERT_TRUE(LoadCameraRaw(1, file, false, false, false));
    ASSERT_FALSE(Store.Image[1].IsColor);
    ShowImageWindow(1);
    ActivateImageWindow(1);
    MosaicSettings = TMosaicSettings{};
    ASSERT_TRUE(RunMenuCommand("FarbCCDzuRGBBild1"));
    TForm13* d = MosaicDialog();
    EXPECT_EQ(Cells(d), cells) << w << " x " << h << " " << make;
    EXPECT_EQ(d->CameraProfileVisible(), *rmul != 0);
    if (*rmul) {
      EXPECT_EQ(d->Edits[0]->text().toStdString(), rmul);
      EXPECT_EQ(d->Edits[5]->text().toStdString(), "1");
    }
    d->Button2Click();
    CloseImageSlot(1);
    QApplication::processEvents();
  }
}

// A DNG mosaic converts through the dialog with each interpolating method.
TEST_F(MosaicDialogTest, DngConvertsWithEachMethod) {
  TempDir dir;
  TDngLayout dng;
  dng.Width = 40;
  dng.Height = 30;
  dng.Pattern = {0, 1, 1, 2};
  dng.Cfa = MakeTestMosaic(40, 30, 1100, 9000, 5);
  dng.Make = "Testkamera";
  dng.Model = "TK-1";
  dng.AsShotNeutral = {0.5, 1.0, 0.8};
  const std::string file = dir.file("m.dng");
  ASSERT_TRUE(WriteDng(file, dng));
  ASSERT_TRUE(LoadCameraRaw(1, file, false, false, false));
  ShowImageWindow(1);
  ActivateImageWindow(1);
  ASSERT_TRUE(RunMenuCommand("FarbCCDzuRGBBild1"));
  TForm13* d = MosaicDialog();
  ASSERT_TRUE(d);
  for (const auto& [method, w, h] : {std::tuple{DmLinear, 38, 28}, std::tuple{DmVng, 40, 30}, std::tuple{DmAstro, 40, 30}}) {
    Choose(d->ComboBox9, method);
    ASSERT_TRUE(d->Button1->isEnabled()) << method;
    const int free = FindFreeSlot();
    QTest::mouseClick(d->Button1, Qt::LeftButton);
    const int r = d->LastResult();
    ASSERT_GT(r, 1) << method;
    ASSERT_GE(r, free);  // a new slot
    ASSERT_NE(ImageWindow(r), nullptr);
    const TImageSlot& im = Store.Image[size_t(r)];
    EXPECT_EQ(im.Width, w);
    EXPECT_EQ(im.Height, h);
    for (int p = 1; p <= 3; ++p) EXPECT_GT(im.PlaneMax[size_t(p)], im.PlaneMin[size_t(p)]) << method;
    EXPECT_TRUE(d->Button1->isEnabled());
  }
}

}  // namespace
}  // namespace astrelon::test

namespace astrelon::test {
namespace {

// The raw-layout editor's pattern button opens this dialog's ".qcm" chooser, which
// remembers the file for the dialog's own "Einstellungen öffnen".
TEST_F(MosaicDialogTest, RawLayoutEditorChoosesPatternsWithTheMosaicOpenDialog) {
  TempDir dir;
  const QString pattern = QString::fromStdString(dir.file("muster.qcm"));
  WriteText(pattern.toStdString(), "0\n");
  TForm24 editor;
  editor.CheckBox2->setChecked(true);
  QStringList filters;
  WhenModal([&](QWidget* w) {
    auto* chooser = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(chooser, nullptr);
    filters = chooser->nameFilters();
    chooser->selectFile(pattern);
    static_cast<QDialog*>(chooser)->accept();
  });
  editor.OpenBtnClick();
  EXPECT_EQ(editor.Edit5->text(), pattern);
  EXPECT_TRUE(filters.join(" ").contains("*.qcm")) << filters.join(" ").toStdString();

  // The dialog's own open button starts at that file.
  TForm13* dialog = MosaicDialog();
  ASSERT_NE(dialog, nullptr);
  QStringList startsAt;
  WhenModal([&](QWidget* w) {
    auto* chooser = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(chooser, nullptr);
    startsAt = chooser->selectedFiles();
    chooser->reject();
  });
  dialog->OpenBtn->click();
  ASSERT_FALSE(startsAt.isEmpty());
  EXPECT_EQ(startsAt.front(), pattern);
}

}  // namespace
}  // namespace astrelon::test
