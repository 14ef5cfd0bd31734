// The histogram window on screen: markers, slider, modes, the delayed render,
// following the active window and its pop-up commands.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "common/text_codec.h"
#include "histogram_fixture.h"
#include "shell/ui/histogram/histogram_button_glyphs.h"
#include "shell/ui/histogram/histogram_geometry.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/display/histogram_value_mapping.h"

namespace astrelon::test {
namespace {

// 40 x 25 pixels with values 0 .. 975 rising to the right and down.
float Ramp(int x, int y) { return float(x * 25); }

// Never placed before, the window starts beside the image area, clear of the
// first image window at the area's top-left.
TEST_F(HistogramWindowTest, FirstShowStartsClearOfTheFirstImageWindow) {
  ASSERT_TRUE(form_->isVisible());
  TMDIChild* w = Open(1, 120, 90, Ramp);
  const QRect image(w->mapToGlobal(QPoint(0, 0)), w->size());
  EXPECT_FALSE(form_->frameGeometry().intersects(image));
}

TEST_F(HistogramWindowTest, FollowsTheActiveWindowAndRendersNothingForIt) {
  Open(1, 40, 25, [](int x, int) { return float(x * 10); });
  TMDIChild* second = Open(2, 40, 25, Ramp);
  EXPECT_TRUE(HistogramWindowVisible);
  EXPECT_EQ(form_->CurrentSlot, 2);
  EXPECT_EQ(form_->Label9->text(), "975");
  CountRenders();
  area_->setActiveSubWindow(ImageWindow(1));
  EXPECT_TRUE(QTest::qWaitFor([this] { return form_->CurrentSlot == 1; }, 3000));
  QTest::qWait(150);
  EXPECT_EQ(form_->Label9->text(), "390");
  EXPECT_EQ(Renders(), 0);
  // A change still waiting for its slot is rendered there when another window is activated.
  form_->Button1Click();  // renders slot 1 at once
  EXPECT_EQ(Renders(), 1);
  const QPoint knob = form_->Shape3Rect().center();
  Press(knob);
  MoveTo(knob + QPoint(20, 0));
  Release(knob + QPoint(20, 0));
  area_->setActiveSubWindow(second);
  EXPECT_TRUE(QTest::qWaitFor([this] { return form_->CurrentSlot == 2; }, 3000));
  QTest::qWait(700);
  EXPECT_EQ(RenderedSlots(), (std::vector<int>{1, 1}));
  // The window's own axis width serves the automatic gamma.
  const TFrozenHistogramAxis axis = AxisOf(Record(2));
  EXPECT_EQ(FrozenHistogramXToValue(2, axis, 100), HistogramXToValueAt(Record(2), axis, 100, form_->W));
  form_->hide();
  EXPECT_FALSE(HistogramWindowVisible);
  EXPECT_EQ(Settings.HistogramMenuChecked, 0);
}

TEST_F(HistogramWindowTest, DragStepsRenderOnce600MsAfterTheLast) {
  Open(1, 40, 25, Ramp);
  CountRenders();
  EXPECT_EQ(form_->Timer1->interval(), 600);
  const QPoint white = form_->Shape2Rect().center();
  Press(white);
  for (int i = 1; i <= 10; ++i) MoveTo(white - QPoint(5 * i, 0));
  Release(white - QPoint(50, 0));
  EXPECT_EQ(Renders(), 0);
  EXPECT_GT(form_->Timer1->remainingTime(), 400);
  EXPECT_LT(Record(1).White, 975.0f);
  EXPECT_EQ(form_->Label9->text().toStdString(), FormatValueLabel(Record(1).White));
  EXPECT_TRUE(QTest::qWaitFor([] { return Renders() == 1; }, 3000));
  QTest::qWait(700);
  EXPECT_EQ(Renders(), 1);
}

TEST_F(HistogramWindowTest, MarkersStayThreePixelsApart) {
  Open(1, 40, 25, Ramp);
  const QPoint grip = form_->Shape10Rect().center();
  Press(grip);
  MoveTo(grip + QPoint(form_->W + 100, 0));
  EXPECT_EQ(form_->BlackX, form_->WhiteX - 3);
  Release(grip + QPoint(form_->W + 100, 0));
  EXPECT_LT(Record(1).Black, Record(1).White);
  const QPoint white = form_->Shape2Rect().center();
  Press(white);
  MoveTo(white - QPoint(form_->W + 100, 0));
  EXPECT_EQ(form_->WhiteX, form_->BlackX + 3);
  Release(white - QPoint(form_->W + 100, 0));
}

TEST_F(HistogramWindowTest, SliderModeCycleAndTheKnobsRightButton) {
  Open(1, 25, 4, [](int x, int) { return float(x * 25); });  // 0 .. 600
  form_->resize(420, 160);  // room for the full slider
  QApplication::processEvents();
  ASSERT_EQ(form_->L, 178);
  Record(1).Gamma = 2.0f;
  form_->RefreshHistogramWindow();
  EXPECT_EQ(form_->P, 127);
  EXPECT_EQ(form_->Label3->text(), "2.00");
  Press(form_->Shape3Rect().center(), Qt::RightButton);
  EXPECT_EQ(Record(1).Gamma, 1.0f);
  EXPECT_EQ(form_->P, 89);
  const QPoint knob = form_->Shape3Rect().center();
  Press(knob);
  MoveTo(knob - QPoint(500, 0));
  EXPECT_EQ(Record(1).Gamma, 0.2f);
  MoveTo(knob + QPoint(500, 0));
  EXPECT_EQ(Record(1).Gamma, 5.0f);
  Release(knob + QPoint(500, 0));

  form_->Button1Click();  // gamma -> equalisation share 0
  EXPECT_EQ(Record(1).Gamma, 0.0f);
  EXPECT_EQ(form_->P, 0);
  EXPECT_EQ(form_->Button1->text(), "&Histo");
  Record(1).Gamma = -0.5f;
  Press(form_->Shape3Rect().center(), Qt::RightButton);  // does nothing in this mode
  EXPECT_EQ(Record(1).Gamma, -0.5f);
  form_->Button1Click();  // -> curve through straight points
  const TDisplayRecord& d = Record(1);
  EXPECT_EQ(d.Gamma, -10.0f);
  EXPECT_EQ(d.CurveMode, 1);
  for (int k = 1; k <= 5; ++k) {
    EXPECT_FLOAT_EQ(d.CurvePoints[size_t(k)].X, 100.0f * k);
    EXPECT_FLOAT_EQ(d.CurvePoints[size_t(k)].Y, k / 6.0f);
  }
  EXPECT_TRUE(form_->Shape4Rect().isNull());  // no slider at zoom 1
  EXPECT_FALSE(form_->CurveGripRect(3).isNull());
  // Dragging the middle grip up raises its point; it stays between its neighbours.
  const QRect grip = form_->CurveGripRect(3);
  Press(grip.center());
  MoveTo(grip.center() + QPoint(400, -20));
  Release(grip.center() + QPoint(400, -20));
  EXPECT_NEAR(d.CurvePoints[3].Y, 0.5 + 20.0 / form_->H, 1e-6);  // 20 pixels higher
  EXPECT_LT(d.CurvePoints[3].X, d.CurvePoints[4].X);
  form_->RxSpinButton1TopClick();
  EXPECT_EQ(form_->Zoom(), 2);
  EXPECT_FALSE(form_->Shape4Rect().isNull());
  form_->Button1Click();  // -> gamma 1
  EXPECT_EQ(d.Gamma, 1.0f);
  EXPECT_EQ(form_->Button1->text(), "&Gamma");
}

TEST_F(HistogramWindowTest, TheCurveIsTheRenderersTransfer) {
  Open(1, 41, 2, [](int x, int) { return float(x * 25); });  // 0 .. 1000
  TDisplayRecord& d = Record(1);
  const QPoint box = form_->PaintBoxRect().topLeft();
  const int W = form_->W, H = form_->H;
  for (auto [gamma, y] : {std::pair{1.0f, 0.5}, {2.0f, 0.70710678}}) {
    d.Gamma = gamma;
    d.CurveMode = 0;
    form_->RefreshHistogramWindow();
    const QImage img = form_->Area->grab().toImage();
    // The column in the middle shows the value 500.
    const QPoint p = box + QPoint(W / 2 + 2, H + 2 - int(std::lround(H * y)));
    EXPECT_EQ(img.pixelColor(p), QColor(Qt::black)) << gamma;
  }
}

TEST_F(HistogramWindowTest, PopupCommandsScaleAndWriteTheDisplay) {
  Open(1, 4, 1, [](int x, int) { return std::array<float, 4>{0, 250, 500, 1000}[size_t(x)]; });
  ASSERT_TRUE(RunMenuCommand("Auf12Bitskalieren040951"));
  TDisplayRecord& d = Record(1);
  EXPECT_EQ(d.Black, 0.0f);
  EXPECT_EQ(d.White, 4095.0f);
  EXPECT_LE(d.RangeLow, 0.0f);
  EXPECT_GE(d.RangeHigh, 4095.0f);
  EXPECT_EQ(form_->Label9->text(), "4095");

  d.Black = 50;
  RunMenuCommand("Schwarzwertauf0setzen1");
  EXPECT_EQ(d.Black, 0.0f);

  d.White = 500;
  d.Gamma = 1;
  d.CurveMode = 0;
  ASSERT_TRUE(RunMenuCommand("bertragedieSkalierungaufdieBildwerte1"));
  ASSERT_TRUE(SlotInUse(2));
  ASSERT_NE(ImageWindow(2), nullptr);
  const std::vector<float> expected = {0, 32767.5f, 65535, 65535};
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(Store.Image[2].Planes[1][i], expected[i], 0.01) << i;
  EXPECT_EQ(Store.Image[1].Planes[1][1], 250.0f);  // the source keeps its values
  EXPECT_EQ(Record(2).White, 65535.0f);
  EXPECT_FALSE(form_->ChangePending);
}

TEST_F(HistogramWindowTest, SettingsFilesFromTheMenu) {
  Open(1, 40, 25, Ramp);
  TempDir dir;
  QString chosen;
  form_->ChooseFile = [&chosen](bool, const QString&) { return chosen; };
  TDisplayRecord& d = Record(1);
  d.Black = 100;
  d.White = 800;
  d.Gamma = 1.75f;
  chosen = QString::fromStdString(dir.file("look"));
  ASSERT_TRUE(RunMenuCommand("Histogrammeinstellungenspeichern1"));
  EXPECT_EQ(SplitLines(ReadTextFile(dir.file("look.qzh")).value_or("")).size(), 8u);

  d.Black = 0;
  d.Gamma = 3;
  chosen = QString::fromStdString(dir.file("look.qzh"));
  RunMenuCommand("Histogrammeinstellungenladen1");
  EXPECT_EQ(d.Black, 100.0f);
  EXPECT_EQ(d.Gamma, 1.75f);
  EXPECT_EQ(form_->Label8->text(), "100");
  EXPECT_TRUE(ui_.Messages.empty());

  // A file that is cut short: one message, the display as it was.
  WriteText(dir.file("short.qzh"), "1\n5\n");
  chosen = QString::fromStdString(dir.file("short.qzh"));
  RunMenuCommand("Histogrammeinstellungenladen1");
  EXPECT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(d.Black, 100.0f);

  // An undefined negative gamma shows as the equalisation mode.
  WriteText(dir.file("odd.qzh"), "-3\n0\n500\n0\n1000\nx\neckig\nRGBgamma\n");
  chosen = QString::fromStdString(dir.file("odd.qzh"));
  RunMenuCommand("Histogrammeinstellungenladen1");
  EXPECT_EQ(d.Gamma, -3.0f);
  EXPECT_EQ(form_->Button1->text(), "&Histo");
  EXPECT_EQ(form_->P, form_->L);
}

}  // namespace
}  // namespace astrelon::test

namespace astrelon::test {
namespace {

// The three picture buttons show recoloured glyph strips, not text: image 1 the
// glyph darkened on the button face, image 2 it faded towards the face, image 3
// a copy of image 1 and image 4 the glyph as drawn.
TEST_F(HistogramWindowTest, PictureButtonsShowRecolouredGlyphs) {
  const QColor face(212, 208, 200);
  for (THistogramGlyph glyph : {THistogramGlyph::SpanWidth, THistogramGlyph::SqrtAxis, THistogramGlyph::SoftGamma}) {
    const QImage strip = HistogramGlyphStrip(glyph, face);
    ASSERT_EQ(strip.size(), QSize(64, 16));
    int ink = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const QRgb normal = strip.pixel(x, y), faded = strip.pixel(x + 16, y), down = strip.pixel(x + 48, y);
        EXPECT_EQ(strip.pixel(x + 32, y), normal);
        if (QColor(normal) == face) {
          EXPECT_EQ(QColor(faded), face);
          continue;
        }
        ++ink;
        EXPECT_EQ(QColor(down), QColor(Qt::black)) << x << "," << y;
        EXPECT_EQ(QColor(faded), QColor(2 * face.red() / 3, 2 * face.green() / 3, 2 * face.blue() / 3)) << x << "," << y;
      }
    EXPECT_GT(ink, 10);
  }
  for (QToolButton* b : {form_->SpeedButton1, form_->SpeedButton3, form_->SpeedButton5}) {
    EXPECT_TRUE(b->text().isEmpty());
    EXPECT_FALSE(b->icon().isNull());
  }
}

}  // namespace
}  // namespace astrelon::test
