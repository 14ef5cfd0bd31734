// The JPEG artefact, cross edge, low-pass and frequency-match commands run from
// the menu on image windows, with their prompts answered from a timer.
#include <QAction>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "../pixelops/slot_images.h"
#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "kernels/sampling/low_pass2.h"
#include "pixelops/ui/operation_frame.h"
#include "pixelops/ui/pixels/spatial_tool_commands.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

class SpatialToolCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterSpatialToolCommands();
  }
  void TearDown() override {
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }
  void OpenImage(int slot, int w, int h, std::initializer_list<std::vector<float>> planes) {
    PutImage(slot, w, h, planes);
    ResetDisplayRange(slot, 0);
    Show(slot);
  }
  static void Show(int slot) {
    ShowImageWindow(slot);
    ActivateImageWindow(slot);
  }
  std::vector<QString> Run(const char* name, const char* caption, std::vector<std::optional<QString>> answers) {
    const PromptAnswers typed(std::move(answers));
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
    return typed.Prompts();
  }
  TEngineUi ui_;
};

TEST_F(SpatialToolCommandsTest, JpegArtefactsEstimateOnceAndWriteTheHistory) {
  TempDir dir;
  const std::string jpg = dir.file("bild.jpg");
  ASSERT_EQ(std::system(("cjpeg -quality 75 " + DataFile("libjpeg-turbo/testorig.ppm") + " > " + jpg).c_str()), 0);
  ASSERT_TRUE(LoadImageFile(1, jpg));
  ResetDisplayRange(1, 0);
  Show(1);
  ASSERT_LT(Store.Image[1].JpegQuality, 1);
  const auto prompts = Run("JPGArtefaktereduzieren1", "JPG Artefakte reduzieren", {QString("75")});
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0], QString::fromUtf8("Qualität des JPEG: (1-100, die Vorgabe ist geschätzt)"));
  EXPECT_NEAR(Store.Image[1].JpegQuality, 75, 5);
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_NE(HistoryText(2).find("JPG Artefakte reduzieren 75"), std::string::npos) << HistoryText(2);
  EXPECT_EQ(RecentFunctionCaption(0), "JPG Artefakte reduzieren");

  // Cancel makes nothing; a text that is no integer says so.
  Show(1);
  Run("JPGArtefaktereduzieren1", "JPG Artefakte reduzieren", {std::nullopt});
  Run("JPGArtefaktereduzieren1", "JPG Artefakte reduzieren", {QString("gut")});
  EXPECT_FALSE(Store.InUse[3]);
  ASSERT_FALSE(ui_.Messages.empty());
  EXPECT_EQ(ui_.Messages.back(), "'gut' ist kein gültiger Integerwert");
}

TEST_F(SpatialToolCommandsTest, CrossEdgesAndLowPass) {
  OpenImage(1, 2, 2, {{1, 0, 0, 4}});
  Run("CannesRanderkennung1", "&Cross Randerkennung", {});
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(PlaneValues(2, 1), (std::vector<float>{3, 0, 0, 0}));
  EXPECT_EQ(HistoryText(2), HistoryText(1));

  std::vector<float> v(30 * 20);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float((i * 37) % 101);
  OpenImage(3, 30, 20, {v});
  // A cut-off of 9 acts as 4; the other two take their defaults when cancelled.
  const auto prompts = Run("Tiefpass21", "Tiefpass2", {QString("9"), std::nullopt, std::nullopt});
  ASSERT_EQ(prompts.size(), 3u);
  EXPECT_EQ(prompts[0], "Grenzfrequenz angeben: (0.01->1)");
  ASSERT_TRUE(Store.HasWindow[4]);
  OpenImage(5, 30, 20, {v});
  ApplyLowPass2(5, true, 0.0, 2.0, 4.0);
  ApplyLowPass2(5, false, 0.0, 2.0, 4.0);
  EXPECT_EQ(PlaneValues(4, 1), PlaneValues(5, 1));
  EXPECT_EQ(HistoryText(4), HistoryText(3));
}

TEST_F(SpatialToolCommandsTest, ShiftMovesTheImageAndZeroOpensNothing) {
  std::vector<float> v(8 * 4);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i % 8) * 10.0f;
  OpenImage(1, 8, 4, {v});
  const auto prompts = Run("Bildverschieben1", "Bild verschieben", {QString("0"), QString("0.0")});
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0], "X-Richtung (Pixel)");
  EXPECT_EQ(prompts[1], "Y-Richtung (Pixel)");
  EXPECT_FALSE(Store.InUse[2]);

  Run("Bildverschieben1", "Bild verschieben", {QString("2"), QString("0")});
  ASSERT_TRUE(Store.HasWindow[2]);
  // The content moves 2 pixels to the right; the uncovered columns are blank.
  EXPECT_EQ(Store.Image[2].At(1, 0, 1), BlankPixel);
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 5, 1), 30.0f);
  EXPECT_EQ(HistoryText(2), HistoryText(1));
  EXPECT_EQ(RecentFunctionCaption(0), "Bild verschieben");
}

TEST_F(SpatialToolCommandsTest, FrequencyMatchWithTheOtherWindow) {
  std::vector<float> v(32 * 16);
  for (size_t i = 0; i < v.size(); ++i) v[i] = 50.0f + float((i * 13) % 17);
  OpenImage(1, 32, 16, {v});
  OpenImage(2, 32, 16, {v});
  Run("FrequenzganganeinanderesBildanpassen1", "Frequenzgang an ein anderes Bild anpassen", {});
  ASSERT_TRUE(Store.HasWindow[3]);
  const auto got = PlaneValues(3, 1);
  for (size_t i = 0; i < v.size(); ++i) ASSERT_NEAR(got[i], v[i], 1e-4) << i;
  EXPECT_NE(HistoryText(3).find("Frequenzgang an ein zweites Bild angepasst"), std::string::npos);
}

}  // namespace
}  // namespace astrelon::test
