// The shift sharpening and experimental commands in a main window: their input
// boxes, refused text, the history cards, the refusal without a free slot, the
// network file asked by the coefficient search and the magnitude test image.
#include "filters/ui/shift_commands.h"

#include <QAction>

#include "filter_dialog_fixture.h"
#include "filters/ui/network/network_commands.h"
#include "qt_test_app.h"

namespace astrelon::test {
namespace {

class ShiftCommandsTest : public FilterDialogTest {
protected:
  void SetUp() override {
    FilterDialogTest::SetUp();
    EngineUi().Messages.clear();
  }
  static bool SamePlanes() { return Store.Image[1].Planes[1] == Store.Image[2].Planes[1]; }
  static void Run(const char* name) {
    ASSERT_TRUE(RunMenuCommand(name));
    QApplication::processEvents();
  }
};

TEST_F(ShiftCommandsTest, CommandsMakeTheirResultWithTheirHistory) {
  const struct {
    const char* Item;
    std::vector<std::optional<QString>> Answers;
    const char* History;
    bool SameAsSource;
  } cases[] = {
      {"CFilter1", {QString("0.0"), QString("0"), QString("0.0"), QString("0.0")}, "cFilter", true},
      {"extAAFilter1", {}, "Text AA-Filter", false},
      {"VSchrfung1", {QString("1.0"), QString("1.0")}, "", false},
      {"BildabhngigesVSchrfen1", {QString("1.5"), QString("0.4")}, "", true},
      {"RadiusisoFunktion1", {}, "", false},
  };
  for (const auto& c : cases) {
    area_->setActiveSubWindow(Open(1, 30, 20));
    const std::string before = History(1);
    {
      PromptAnswers answers(c.Answers);
      Run(c.Item);
      if (!c.Answers.empty()) {
        EXPECT_EQ(answers.Prompts().size(), c.Answers.size()) << c.Item;
      }
    }
    ASSERT_TRUE(SlotInUse(2)) << c.Item;
    EXPECT_NE(ImageWindow(2), nullptr) << c.Item;
    std::string expected = before;
    if (*c.History) expected += (expected.empty() ? "" : ", ") + std::string(c.History);
    EXPECT_EQ(History(2), expected) << c.Item;
    // The source x + 2 y is a plane: its similar-neighbour shifts and 0 weights change nothing.
    if (c.SameAsSource) {
      EXPECT_EQ(Store.Image[2].Planes[1], Store.Image[1].Planes[1]) << c.Item;
    }
    EXPECT_EQ(SlotPair.Destination, -1);
    area_->closeAllSubWindows();
    QApplication::processEvents();
  }
}

TEST_F(ShiftCommandsTest, RefusedTextAndNoFreeSlot) {
  area_->setActiveSubWindow(Open(1, 30, 20));
  {
    PromptAnswers answers({QString("1.0"), QString("weit")});
    Run("VSchrfung1");
  }
  EXPECT_FALSE(SlotInUse(2));
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "'weit' ist keine gültige Zahl");
  {
    PromptAnswers answers({QString("1.0"), std::nullopt});
    Run("BildabhngigesVSchrfen1");
  }
  EXPECT_FALSE(SlotInUse(2));
  // Every slot taken: the command refuses with the message.
  EngineUi().Messages.clear();
  for (int s = 2; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 1;
  Run("extAAFilter1");
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "Es sind zu viele Bilder geöffnet");
  for (int s = 2; s <= MaxImageSlots; ++s) Store.InUse[size_t(s)] = 0;
}

TEST_F(ShiftCommandsTest, CoefficientSearchEndsWhenNoNetworkIsChosen) {
  area_->setActiveSubWindow(Open(1, 30, 20));
  Open(2, 60, 40);
  area_->setActiveSubWindow(ImageWindow(1));
  const auto saved = ChooseNetworkFile;
  QString asked;
  ChooseNetworkFile = [&](const QString& filter) {
    asked = filter;
    return QString();
  };
  Run("Filtercoeffberechnen1");
  ChooseNetworkFile = saved;
  EXPECT_TRUE(asked.contains("*.nnw"));
  EXPECT_FALSE(SlotInUse(3));
}

TEST_F(ShiftCommandsTest, MagnitudeTestShowsItsPlot) {
  {
    PromptAnswers answers({QString("1.5"), QString("7.25"), QString("1"), QString("0.6")});
    Run("esteVerschiebungsfindung1");
    EXPECT_EQ(answers.Prompts().size(), 4u);
  }
  ASSERT_TRUE(SlotInUse(1));
  EXPECT_NE(ImageWindow(1), nullptr);
  EXPECT_EQ(Store.Image[1].Width, 200);
  EXPECT_EQ(Store.FileName[1], "Mag-Test.png");
  EXPECT_FALSE(SlotInUse(2));
}

TEST_F(ShiftCommandsTest, StarTrailsAreFunctionTwentyOneOfTheFilterDialog) {
  Start("Strichspuraufnahmezurckrechnen1", 40, 30);
  ASSERT_TRUE(form->isVisible());
  EXPECT_EQ(FunktionNr, 21);
  EXPECT_FALSE(form->Button3->isHidden());
  // A short trail of a bright point along a row.
  for (int x = 10; x < 15; ++x) Store.Image[1].At(1, x, 12) += 500.0f;
  UpdateMinMax(1);
  CopyImageSlot(1, 2);
  form->Button3->click();
  QApplication::processEvents();
  EXPECT_FALSE(SamePlanes());
  form->Button1->click();
  QApplication::processEvents();
  EXPECT_NE(History(2).find("Strichspur"), std::string::npos) << History(2);
}

}  // namespace
}  // namespace astrelon::test
