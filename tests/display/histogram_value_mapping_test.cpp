// The histogram window's value axis: linear and square-root, over the display
// range or over black..white, and the positions left of its start.
#include "store/display/histogram_value_mapping.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TEST(HistogramValueMapping, AxisPositionsAndValues) {
  const TFrozenHistogramAxis axis{100, 500, 0, 1000};  // black, white, range low, range high
  struct Case {
    bool Sqrt, Span;
    double Value, X;  // at an area 200 pixels wide
  };
  const Case cases[] = {
      {false, false, 500, 100},  {false, false, -100, -20},  // linear over the range, also below it
      {true, false, 250, 100},   {true, false, 1000, 200},   {true, false, -100, -20},
      {false, true, 300, 100},   {false, true, 50, -25},      // over black..white
      {true, true, 500, 200},    {true, true, 100, 0},        {true, true, 50, -25},
  };
  for (const Case& c : cases) {
    TDisplayRecord d;
    d.SqrtHistogram = c.Sqrt;
    d.SpanBlackWhite = c.Span;
    EXPECT_NEAR(ValueToHistogramXAt(d, axis, c.Value, 200), c.X, 1e-9) << c.Sqrt << c.Span << " " << c.Value;
    EXPECT_NEAR(HistogramXToValueAt(d, axis, c.X, 200), c.Value, 1e-9) << c.Sqrt << c.Span << " " << c.X;
    // Between the ends the two directions agree; far positions are clamped to -200 .. width + 200.
    for (double v : {120.0, 333.0, 480.0})
      EXPECT_NEAR(HistogramXToValueAt(d, axis, ValueToHistogramXAt(d, axis, v, 200), 200), v, 1e-9);
    EXPECT_EQ(HistogramXToValueAt(d, axis, 1e9, 200), HistogramXToValueAt(d, axis, 400, 200));
  }
  // Without the window the axis is 290 pixels wide.
  Store.Reset();
  Store.Display[1].SqrtHistogram = 1;
  EXPECT_EQ(DefaultHistogramXToValue(1, axis, 145), HistogramXToValueAt(Store.Display[1], axis, 145, 290));
  EXPECT_EQ(DefaultHistogramXToValue(0, axis, 145), 0.0);
  Store.Reset();
}

}  // namespace
}  // namespace astrelon::test
