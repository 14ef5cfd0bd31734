// Control routines: sorted list boxes, brightened button pictures, cut captions,
// display-type glyphs and fading a form in.
#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QToolButton>

#include "shell/ui/controls/control_utils.h"
#include "shell/ui/controls/dd_button.h"
#include "store/display/display_record.h"
#include "test_support.h"

namespace astrelon {
namespace {

TEST(ControlUtils, SortedInsertionOrdersByLengthThenCharacters) {
  QListWidget list;
  list.addItems({"img_2", "img_10"});
  EXPECT_EQ(ListBoxInsertSorted(&list, "img_3", 0), 1);
  EXPECT_EQ(ListBoxInsertSorted(&list, "IMG_3", 0), -1);  // present, ignoring case
  EXPECT_EQ(ListBoxInsertSorted(&list, "img_1", 0), 0);
  EXPECT_EQ(SortedInsertIndex({"b", "a"}, "zz", 99), 2);   // a start beyond the end is the end
  EXPECT_EQ(list.item(2)->text(), "img_3");
  EXPECT_GT(list.property("ScrollWidth").toInt(), 4);
  EXPECT_EQ(SwapRedBlue(0x00112233u), 0x00332211u);
}

TEST(ControlUtils, BrightenedPicturesAndShiftedPressedPictures) {
  QImage png(1, 3, QImage::Format_ARGB32);
  png.setPixel(0, 0, qRgba(100, 26, 255, 200));
  png.setPixel(0, 1, qRgba(20, 200, 0, 255));
  png.setPixel(0, 2, qRgba(28, 28, 28, 255));
  const QImage hover = BrightenPngImage(png, false);
  EXPECT_EQ(hover.pixel(0, 0), qRgba(95, 2, 255, 200));  // 26 x 1.25 - 30 = 2.5 -> 2
  EXPECT_EQ(hover.pixel(0, 1), qRgba(0, 220, 0, 255));
  const QImage pressed = BrightenPngImage(png, true);
  EXPECT_EQ(pressed.pixel(0, 0), qRgba(0, 220, 0, 255));  // row 1's result moved up
  EXPECT_EQ(qAlpha(pressed.pixel(0, 2)), 0);
}

TEST(ControlUtils, CaptionsAreCutAndGlyphsNeedRoom) {
  EXPECT_EQ(CutCaption("Dateien", 40, 60), "Dateien");
  EXPECT_EQ(CutCaption("Dateien festlegen", 100, 52), "Dateien ..");  // 17 x 50 / 100 = 8 characters
  EXPECT_EQ(CutCaption("x", 0, 10), "x");
  TqzDDButton button;
  button.resize(60, 20);
  button.setCaption("Eine sehr lange Beschriftung");
  EXPECT_TRUE(button.ShownCaption().endsWith(".."));

  const QFont font = QApplication::font();
  for (int type : {DtGrey, DtIsophotes, DtFourGradients, DtOwnPalette, DtColorRgb, DtColorYuv}) {
    EXPECT_FALSE(DisplayTypeGlyph(QSize(30, 20), type, font, Qt::black).isNull());
    EXPECT_FALSE(DisplayTypeGlyph(QSize(30, 2), type, font, Qt::black).isNull());  // too low for a bar
  }
  const QImage grey = DisplayTypeGlyph(QSize(30, 20), DtGrey, font, Qt::black).toImage();
  EXPECT_EQ(qRed(grey.pixel(15, 0)), 255);   // brightest at the top
  EXPECT_EQ(qRed(grey.pixel(15, 18)), 0);
  EXPECT_TRUE(TextGlyph(QSize(3, 20), "R", font, Qt::black, Qt::white).isNull());
}

TEST(ControlUtils, FadeInShowsTheFormWithoutBlocking) {
  QWidget form;
  FadeInForm(&form);
  EXPECT_TRUE(form.isVisible());
  EXPECT_LT(form.windowOpacity(), 0.5);
  QTest::qWait(100);
  EXPECT_DOUBLE_EQ(form.windowOpacity(), 1.0);
  form.setWindowOpacity(0.3);
  FadeInForm(&form);
  EXPECT_DOUBLE_EQ(form.windowOpacity(), 1.0);
}

}  // namespace
}  // namespace astrelon
