// The FFT menu commands on image windows: round trips through the spectrum
// (also through a FITS file), refusals, conversions, padding and the filter.
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "frequency/ui/fft_commands.h"
#include "qt_test_app.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/fits/fits_writer.h"
#include "store/image_loader.h"

namespace astrelon {
namespace {

class FftCommands : public test::WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterFrequencyCommands();
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    WindowTest::TearDown();
  }
  // An image window with the values f(x, y).
  void OpenImage(int slot, int w, int h, float (*f)(int, int)) {
    MakeImage(slot, w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Store.Image[size_t(slot)].At(1, x, y) = f(x, y);
    UpdateMinMax(slot);
    ShowImageWindow(slot);
    Activate(slot);
  }
  void Activate(int slot) {
    area_->setActiveSubWindow(ImageWindow(slot));
    QApplication::processEvents();
    ASSERT_EQ(FindActiveSlot(), slot);
  }
  int SlotsInUse() const {
    int n = 0;
    for (int s = 1; s <= MaxImageSlots; ++s) n += Store.InUse[size_t(s)];
    return n;
  }
  // Answers the next input boxes with these texts, one after the other.
  static void Answer(std::vector<QString> texts) {
    if (texts.empty()) return;
    test::WhenModal([texts](QWidget* w) mutable {
      auto* box = qobject_cast<QInputDialog*>(w);
      ASSERT_NE(box, nullptr);
      box->setTextValue(texts.front());
      texts.erase(texts.begin());
      Answer(texts);
      box->accept();
    });
  }
  TEngineUi ui_;
};

float Scene(int x, int y) { return 100.0f + 40.0f * float((x * 7 + y * 3) % 11) + 0.25f * float(x * y % 17); }

TEST_F(FftCommands, ImageToSpectrumAndBackAlsoThroughAFitsFile) {
  OpenImage(1, 100, 80, Scene);
  ASSERT_TRUE(RunMenuCommand("Bild2DFFT1"));
  const TImageSlot& spectrum = Store.Image[2];
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(spectrum.Width, 102);
  EXPECT_EQ(spectrum.Height, 80);
  EXPECT_EQ(Store.Display[2].SqrtHistogram, 1);
  EXPECT_GE(spectrum.At(1, 0, 40), 0.0f);  // amplitude of bin 0

  auto expectImage = [&](int slot) {
    const TImageSlot& im = Store.Image[size_t(slot)];
    ASSERT_EQ(im.Width, 100);
    ASSERT_EQ(im.Height, 80);
    for (int y = 0; y < 80; ++y)
      for (int x = 0; x < 100; ++x) ASSERT_NEAR(im.At(1, x, y), Scene(x, y), 1e-4 * 500) << x << ", " << y;
  };
  Activate(2);
  ASSERT_TRUE(RunMenuCommand("N2DFFTBild1"));
  ASSERT_EQ(FindFreeSlot(), 3);  // the converted copy is closed again
  ASSERT_TRUE(Store.HasWindow[4]);
  expectImage(4);

  test::TempDir dir;
  ASSERT_TRUE(SaveFits(2, -32, dir.file("spektrum.fit"), false, false));
  ASSERT_TRUE(LoadImageFile(5, dir.file("spektrum.fit")));
  EXPECT_EQ(Store.Image[5].FftWidth, 0);
  ShowImageWindow(5);
  Activate(5);
  ASSERT_TRUE(RunMenuCommand("N2DFFTBild1"));
  expectImage(6);
  EXPECT_TRUE(ui_.Messages.empty());
}

TEST_F(FftCommands, AnImageThatIsNoSpectrumIsRefusedUnchanged) {
  OpenImage(1, 109, 40, Scene);
  const std::vector<float> before(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end());
  const int used = SlotsInUse();
  ASSERT_TRUE(RunMenuCommand("N2DFFTBild1"));
  EXPECT_EQ(SlotsInUse(), used);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), Store.Image[1].Planes[1].begin()));
  EXPECT_EQ(Store.Image[1].FftWidth, 0);
  ASSERT_EQ(ui_.Messages.size(), 1u);
}

TEST_F(FftCommands, RealImaginaryAndAmplitudePhase) {
  OpenImage(1, 2, 1, [](int x, int) { return x == 0 ? 3.0f : 4.0f; });
  ASSERT_TRUE(RunMenuCommand("N2DFFTWirkspektrum1"));
  EXPECT_NEAR(Store.Image[2].At(1, 0, 0), 5.0f, 1e-6);
  EXPECT_NEAR(Store.Image[2].At(1, 1, 0), 0.9273f, 1e-4);
  EXPECT_EQ(Store.Image[1].At(1, 0, 0), 3.0f);  // the source stays
  Activate(2);
  ASSERT_TRUE(RunMenuCommand("N2DFFTAmplitudePhasenachkomplex1"));
  EXPECT_NEAR(Store.Image[3].At(1, 0, 0), 3.0f, 1e-5);
  EXPECT_NEAR(Store.Image[3].At(1, 1, 0), 4.0f, 1e-5);
}

TEST_F(FftCommands, EdgeAdaptationAsksForWholeMarginsOfAtLeastZero) {
  OpenImage(1, 97, 97, Scene);
  Answer({"0", "0"});
  ASSERT_TRUE(RunMenuCommand("randanpassenRadix1"));
  const TImageSlot& im = Store.Image[2];
  ASSERT_EQ(im.Width, 100);
  ASSERT_EQ(im.Height, 98);
  for (int y = 0; y < 98; ++y) {
    EXPECT_EQ(im.At(1, 98, y), 0.0f);
    EXPECT_EQ(im.At(1, 99, y), 0.0f);
  }
  EXPECT_EQ(im.At(1, 10, 20), Scene(10, 20));
  EXPECT_TRUE(ui_.Messages.empty());

  Activate(1);
  const int used = SlotsInUse();
  for (const auto& answers : std::vector<std::vector<QString>>{{"abc"}, {"2", "-3"}, {"1.5"}, {""}}) {
    ui_.Messages.clear();
    Answer(answers);
    ASSERT_TRUE(RunMenuCommand("randanpassenRadix1"));
    EXPECT_EQ(ui_.Messages.size(), 1u) << answers.back().toStdString();
    EXPECT_EQ(SlotsInUse(), used);
  }
  // Margins beyond memory: the out-of-memory message, nothing made.
  ui_.Messages.clear();
  Answer({"0", "2000000000"});
  ASSERT_TRUE(RunMenuCommand("randanpassenRadix1"));
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(ui_.Messages[0], "Nicht genug Speicher");
  EXPECT_EQ(SlotsInUse(), used);
}

TEST_F(FftCommands, InterferenceFilterRecordsItsCaption) {
  OpenImage(1, 64, 32, Scene);
  ASSERT_TRUE(RunMenuCommand("Automatischer1DFFTStrfilter1"));
  ASSERT_TRUE(Store.HasWindow[2]);
  bool found = false;
  for (const std::string& card : Store.Header[2].ActiveCards())
    found = found || card.find("Automatischer 1D-FFT St") != std::string::npos;
  EXPECT_TRUE(found);
  EXPECT_EQ(SlotPair.Destination, -1);
}

}  // namespace
}  // namespace astrelon
