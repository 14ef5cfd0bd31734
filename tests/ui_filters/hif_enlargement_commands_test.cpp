// The hi-f enlargement commands in a main window: the strength box with its
// default, clamped strengths, history texts and cards, recent functions, the
// user's interpolation kind, refused text, Esc, and the back-projection with
// its working slots.
#include "filters/ui/hif_enlargement_commands.h"

#include <QAction>
#include <QLineEdit>
#include <QTimer>
#include <cmath>

#include "filter_dialog_fixture.h"
#include "filters/enlargement/upscale_x2_hif.h"
#include "qt_test_app.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon::test {
namespace {

class HiFCommandsTest : public FilterDialogTest {
protected:
  void SetUp() override {
    FilterDialogTest::SetUp();
    savedStrength_ = LastX2Strength;
    LastX2Strength = 3;
    EngineUi().Messages.clear();
  }
  void TearDown() override {
    LastX2Strength = savedStrength_;
    SetToolMode(IkBicubic);
    FilterDialogTest::TearDown();
  }
  // A textured grey source in slot 1, the active window; `grain` scales its fine noise.
  void OpenTextured(int w, int h, float grain = 1) {
    std::vector<float> v(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        v[size_t(y * w + x)] = 100.0f + 40.0f * std::sin(0.7f * float(x) + 0.3f * float(y)) +
                              (x > y ? 80.0f : 0.0f) + grain * float((x * 7 + y * 13) % 11);
    area_->setActiveSubWindow(OpenActive(w, h, {v}));
  }
  // Runs a command through an item with its caption, answering the box with
  // `answer` (nullopt: Cancel); returns the text the box offered.
  static QString Run(const char* name, const char* caption, std::optional<QString> answer) {
    QString offered;
    WhenModal([&](QWidget* w) {
      auto* edit = w->findChild<QLineEdit*>();
      offered = edit->text();
      if (answer) {
        edit->setText(*answer);
        qobject_cast<QDialog*>(w)->accept();
      } else {
        qobject_cast<QDialog*>(w)->reject();
      }
    });
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
    QApplication::processEvents();
    return offered;
  }
  void ExpectFinished() const {
    EXPECT_EQ(OperationRunning, 0);
    EXPECT_EQ(SlotPair.Source, -1);
    EXPECT_EQ(SlotPair.Destination, -1);
    EXPECT_EQ(MainLink().StatusTexts[2], "");
  }
  int32_t savedStrength_ = 3;
};

TEST_F(HiFCommandsTest, StrengthsHistoriesAndCards) {
  OpenTextured(30, 24);
  SetToolMode(IkLanczos3);
  struct TCase {
    const char* Name;
    const char* Caption;
    QString Typed, Offered;
    int32_t Kept;
    const char* History;
    uint8_t NewCard;
  };
  const TCase cases[] = {
      {"Bildgrex2smart31", "Bildgröße x2 hi-f tri", "3", "3", 3, "Bildgroesse x2 hi-f tri Kuenstliche Schaerfung 3", 1},
      {"Bildgrex2hiffine1", "Bildgröße x2 hi-f &sinc", "11", "3", 10,
       "Bildgroesse x2 hi-f sinc Kuenstliche Schaerfung 11", 0},
      {"Bildgrex2smart31", "Bildgröße x2 hi-f tri", "0", "10", 1, "Bildgroesse x2 hi-f tri Kuenstliche Schaerfung 0", 1},
  };
  int slot = 2;
  for (const TCase& c : cases) {
    area_->setActiveSubWindow(ImageWindow(1));
    EXPECT_EQ(Run(c.Name, c.Caption, c.Typed), c.Offered) << c.Name;
    ASSERT_NE(ImageWindow(slot), nullptr) << c.Name;
    EXPECT_EQ(Store.Image[size_t(slot)].Width, 60);
    EXPECT_EQ(Store.Image[size_t(slot)].Height, 48);
    EXPECT_EQ(LastX2Strength, c.Kept);
    EXPECT_EQ(History(slot), c.History);
    EXPECT_EQ(Store.NewHistoryCard[size_t(slot)], c.NewCard);
    EXPECT_EQ(RecentFunctionCaption(0), QString::fromUtf8(c.Caption).remove(QChar(0x26)));
    EXPECT_EQ(Settings.InterpolationKind, IkLanczos3);
    ExpectFinished();
    ++slot;
  }
}

TEST_F(HiFCommandsTest, RefusedTextCancelAndEscLeaveNoSlot) {
  OpenTextured(40, 40);
  Run("Bildgrex2smart31", "Bildgröße x2 hi-f tri", std::nullopt);
  EXPECT_FALSE(SlotInUse(2));
  EXPECT_TRUE(EngineUi().Messages.empty());
  Run("Bildgrex2hiftriBackpropagation1", "Bildgröße x2 hi-f tri Backpropagation", QString("drei"));
  EXPECT_FALSE(SlotInUse(2));
  ASSERT_EQ(EngineUi().Messages.size(), 1u);
  EXPECT_EQ(EngineUi().Messages[0], "'drei' ist kein gültiger Integerwert");

  // Esc while they run: no result, no history, the slots as before.
  QTimer esc;
  esc.setInterval(0);
  QObject::connect(&esc, &QTimer::timeout, [] {
    if (OperationRunning) AbortRequested = 1;
  });
  for (const char* name : {"Bildgrex2smart31", "Bildgrex2hiffine1", "Bildgrex2hiftriBackpropagation1"}) {
    area_->setActiveSubWindow(ImageWindow(1));
    const int free = FindFreeSlot();
    esc.start();
    Run(name, "x2", QString("5"));
    esc.stop();
    EXPECT_FALSE(SlotInUse(2)) << name;
    EXPECT_EQ(FindFreeSlot(), free) << name;
    EXPECT_EQ(CountOpenWindows(), 1) << name;
    ExpectFinished();
    AbortRequested = 0;
  }
}

TEST_F(HiFCommandsTest, BackProjectionFreesItsWorkingSlots) {
  OpenTextured(32, 28, 0);
  SetToolMode(IkDSinc);
  Run("Bildgrex2hiftriBackpropagation1", "Bildgröße x2 hi-f tri Backpropagation", QString("4"));
  ASSERT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(Store.Image[2].Width, 64);
  EXPECT_EQ(Store.Image[2].Height, 56);
  EXPECT_EQ(History(2), "Bildgroesse x2 hi-f tri Backpropagation Kuenstliche Schaerfung 4");
  EXPECT_EQ(Store.NewHistoryCard[2], 1);
  EXPECT_EQ(CountOpenWindows(), 2);
  EXPECT_EQ(FindFreeSlot(), 3);
  EXPECT_EQ(Settings.InterpolationKind, IkDSinc);
  ExpectFinished();

  // The same enlargement without the back-projection differs from it.
  area_->setActiveSubWindow(ImageWindow(1));
  Run("Bildgrex2smart31", "Bildgröße x2 hi-f tri", QString("4"));
  ASSERT_NE(ImageWindow(3), nullptr);
  EXPECT_NE(Store.Image[3].Planes[1], Store.Image[2].Planes[1]);
}

}  // namespace
}  // namespace astrelon::test
