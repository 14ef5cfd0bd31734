// The manual combination dialog: spin rules, the result of "Ok" in each mode
// and the preview.
#include "registration/ui/manual_combination_dialog.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <cmath>

#include "../ui_windows/window_fixture.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"

namespace astrelon::test {
namespace {

class ManualCombinationTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterManualCombinationForm();
  }
  void TearDown() override {
    if (QWidget* f = DialogForm(ManualCombinationForm)) f->hide();
    WindowTest::TearDown();
  }
  static std::vector<float> Values(int slot) {
    const TPlane& p = Store.Image[size_t(slot)].Planes[1];
    return {p.begin(), p.end()};
  }
  // Images 1 (x + 2y) and 2 (100 + x) of 16 x 10 in the dialog.
  TForm27* Dialog() {
    Open(1, 16, 10);
    Open(2, 16, 10);
    for (int i = 0; i < 160; ++i) Store.Image[2].Planes[1][size_t(i)] = float(100 + i % 16);
    UpdateMinMax(2);
    TForm27* f = ShowManualCombination(1, 2);  // the form outlives a test
    if (f) f->RadioGroup1[0]->setChecked(true);
    return f;
  }
};

TEST_F(ManualCombinationTest, SpinRules) {
  const std::pair<int, int> up[] = {{4, 5}, {13, 15}, {29, 32}, {150, 155}, {300, 310}, {9999, 10000}, {10000, 10000}};
  for (auto [from, to] : up) EXPECT_EQ(StepCombineWeight(from, true), to) << from;
  EXPECT_EQ(StepCombineWeight(0, false), 0);
  EXPECT_EQ(StepCombineWeight(155, false), 150);
  TForm27* f = Dialog();
  ASSERT_NE(f, nullptr);
  for (int k = 0; k < 15; ++k) f->UpDownClick(3, true);
  EXPECT_EQ(f->Edit3->text(), "1.00");
  for (int k = 0; k < 25; ++k) f->UpDownClick(4, false);
  EXPECT_EQ(f->Edit4->text(), "-1.00");
  f->Edit5->setText("4");
  f->UpDownClick(5, true);
  EXPECT_EQ(f->Edit5->text(), "5");
}

TEST_F(ManualCombinationTest, OkInEachMode) {
  TForm27* f = Dialog();
  ASSERT_NE(f, nullptr);
  const std::vector<float> a = Values(1), b = Values(2);
  // Weight 0 in mode 0: a plain copy of the first image.
  f->Edit5->setText("0");
  int r = f->Button1Click();
  ASSERT_GT(r, 2);
  EXPECT_EQ(Values(r), a);
  EXPECT_EQ(HistoryText(r), "Bild addiert|Gewichtung 2.Bild: 0");
  // 50 % without shift: first + 0.5 second.
  f->Edit5->setText("50");
  r = f->Button1Click();
  ASSERT_GT(r, 0);
  std::vector<float> v = Values(r);
  for (size_t i = 0; i < a.size(); ++i) ASSERT_FLOAT_EQ(v[i], a[i] + 0.5f * b[i]) << i;
  // Mode 2, horizontal 3: the first image shifted left, its last 3 columns blank.
  f->RadioGroup1[2]->setChecked(true);
  f->Edit1->setText("3");
  r = f->Button1Click();
  ASSERT_GT(r, 0);
  v = Values(r);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(v[size_t(y * 16 + x)], x < 13 ? a[size_t(y * 16 + x + 3)] : BlankPixel) << x << "," << y;
  EXPECT_EQ(HistoryText(r), "Bild an ein Zweites angepasst");
}

TEST_F(ManualCombinationTest, TheMenuStartGivesTheSecondImageAsFirst) {
  EnsureDialogForm(ManualCombinationForm);
  ASSERT_TRUE(ManualCombinationStarter);
  ManualCombinationStarter(DialogForm(ManualCombinationForm), {5, 3, 0.0});
  auto* f = qobject_cast<TForm27*>(DialogForm(ManualCombinationForm));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->First, 5);
  EXPECT_EQ(f->Second, 3);
}

TEST_F(ManualCombinationTest, RightDragShiftsLeftDragScrolls) {
  TForm27* f = Dialog();
  ASSERT_NE(f, nullptr);
  auto drag = [f](Qt::MouseButton b, QPoint from, QPoint to) {
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(from), QPointF(f->Image1->mapToGlobal(from)), b, b,
                     Qt::NoModifier);
    QApplication::sendEvent(f->Image1, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(to), QPointF(f->Image1->mapToGlobal(to)), b, Qt::NoButton,
                   Qt::NoModifier);
    QApplication::sendEvent(f->Image1, &up);
  };
  const int32_t ox = f->OffsetX, oy = f->OffsetY;
  drag(Qt::RightButton, {10, 10}, {15, 12});
  EXPECT_EQ(f->Edit1->text(), "5");
  EXPECT_EQ(f->Edit2->text(), "-2");
  drag(Qt::LeftButton, {10, 10}, {13, 14});
  EXPECT_EQ(f->OffsetX, ox + 3);
  EXPECT_EQ(f->OffsetY, oy - 4);
}

TEST_F(ManualCombinationTest, NoResultWithoutRoomForTheWeightedCopy) {
  TForm27* f = Dialog();
  ASSERT_NE(f, nullptr);
  for (int k = 3; k <= MaxImageSlots - 1; ++k) Store.InUse[size_t(k)] = 1;  // one slot left
  EXPECT_EQ(f->Button1Click(), -1);
  EXPECT_FALSE(Store.InUse[size_t(MaxImageSlots)]);
  for (int k = 3; k <= MaxImageSlots - 1; ++k) Store.InUse[size_t(k)] = 0;
}

TEST_F(ManualCombinationTest, PreviewAddsTheWeightedSecondImage) {
  Open(1, 16, 10);
  Open(2, 16, 10);
  Store.Display[1].Black = 0;
  Store.Display[1].White = 255;
  Store.Display[2].Black = 4;
  TManualCombineSettings s;
  s.Weight = 0.5;
  s.H = 2;
  // Screen pixel (c, r) shows first (c, r); second at (c - 2, r).
  const QImage img = RenderCombinePreview(1, 2, s, 0, 0, 20, 12);
  EXPECT_EQ(qRed(img.pixel(5, 3)), 13);  // 11 + 0.5 * (9 - 4), truncated
  EXPECT_EQ(qRed(img.pixel(18, 3)), 0);  // outside the first image
  s.Mode = 1;
  EXPECT_EQ(qRed(RenderCombinePreview(1, 2, s, 0, 0, 20, 12).pixel(0, 0)), 1);  // limited to 1
}

// Shifts and weights beyond the float range, in every mode: the result holds
// no NaN or infinity (a shift beyond the images leaves nothing of the shifted
// one), and the preview and the arrows cope.
TEST_F(ManualCombinationTest, HugeShiftsAndWeightsGiveFiniteResults) {
  TForm27* f = Dialog();
  ASSERT_NE(f, nullptr);
  for (int mode : {0, 1, 2})
    for (const auto& [shift, sub] : {std::pair{"1e39", "0.5"}, {"-3e38", "0"}, {"1e300", "0"}, {"-3000000000", "0"}}) {
      SCOPED_TRACE(std::to_string(mode) + " " + shift);
      f->RadioGroup1[size_t(mode)]->setChecked(true);
      f->Edit1->setText(shift);
      f->Edit2->setText(shift);
      f->Edit4->setText(sub);
      f->Edit5->setText("1e39");
      f->Draw();
      const int r = f->Button1Click();
      ASSERT_GT(r, 0);
      for (float v : Values(r)) ASSERT_TRUE(std::isfinite(v));
      CloseImageSlot(r);
      f->UpDownClick(1, true);
      f->UpDownClick(2, false);
    }
}

}  // namespace
}  // namespace astrelon::test
