// Selections, point markers and marks of an image window, and what the store
// reads of them, at the zoom steps the window uses.
#include "shell/main/main_services.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/windows/window_coordinates.h"
#include "window_fixture.h"

namespace astrelon::test {
namespace {

class SelectionTest : public WindowTest {
protected:
  TMDIChild* OpenAtZoom(int slot, int zoom) {
    TMDIChild* w = Open(slot, 200, 150);
    Store.Display[size_t(slot)].ZoomPercent = zoom;
    RedrawWindowZoom(slot);
    return w;
  }
};

TEST_F(SelectionTest, PressPixelAtEveryZoom) {
  struct Case {
    int zoom;
    QPoint control;
    TPointI pixel;
  };
  // The press pixel uses the zoom as at least 10 and the rounding of each range.
  for (const Case& c : {Case{25, {0, 0}, {3, 3}}, Case{50, {0, 1}, {1, 3}}, Case{100, {7, 9}, {7, 9}},
                        Case{200, {1, 2}, {0, 1}}, Case{400, {3, 4}, {0, 1}}}) {
    TMDIChild* w = OpenAtZoom(1, c.zoom);
    Click(w, c.control);
    EXPECT_EQ(LastClickPixel.X, c.pixel.X) << c.zoom;
    EXPECT_EQ(LastClickPixel.Y, c.pixel.Y) << c.zoom;
    CloseImageSlot(1);
  }
}

TEST_F(SelectionTest, DraggedSelectionInImagePixelsAtEveryZoom) {
  struct Case {
    int zoom;
    QPoint from, to;
    TRectI image;  // selection 1 in image pixels
  };
  for (const Case& c : {Case{25, {4, 4}, {11, 7}, {18, 18, 46, 30}}, Case{50, {10, 6}, {19, 13}, {21, 13, 39, 27}},
                        Case{100, {10, 20}, {29, 39}, {10, 20, 29, 39}}, Case{200, {10, 20}, {29, 39}, {5, 10, 14, 19}},
                        Case{400, {8, 4}, {15, 7}, {2, 1, 3, 1}}}) {
    TMDIChild* w = OpenAtZoom(1, c.zoom);
    Drag(w, c.from, c.to);
    ASSERT_TRUE(w->Overlay().Shape1.Visible) << c.zoom;
    EXPECT_EQ(w->Overlay().Shape1.Bounds, QRect(c.from, c.to)) << c.zoom;
    const TRectI r = w->SelectionImageRect(1);
    EXPECT_EQ(r.Left, c.image.Left) << c.zoom;
    EXPECT_EQ(r.Top, c.image.Top) << c.zoom;
    EXPECT_EQ(r.Right, c.image.Right) << c.zoom;
    EXPECT_EQ(r.Bottom, c.image.Bottom) << c.zoom;
    // The working rectangle follows (at least 2 x 2) and is remembered for the slot.
    SetWorkRectFromWindow(1, 1, false);
    EXPECT_EQ(SelectionRects[1].Left, WorkRect.x1) << c.zoom;
    EXPECT_EQ(WindowSelectionRects[1][1].Bottom, WorkRect.y2) << c.zoom;
    EXPECT_GE(WorkRect.y2 - WorkRect.y1, 1);
    CloseImageSlot(1);
  }
}

TEST_F(SelectionTest, ClicksMakeMarkersThenNothing) {
  TMDIChild* w = OpenAtZoom(1, 100);
  // A move report at the press point does not turn the click into a selection.
  Drag(w, {30, 40}, {30, 40});
  const TWindowOverlay& o = w->Overlay();
  EXPECT_TRUE(o.Image2.Visible);
  EXPECT_FALSE(o.Shape1.Visible);
  EXPECT_EQ(o.Image2.Bounds, QRect(20, 30, 21, 21));
  EXPECT_EQ(w->MarkerImagePoint(1).X, 30);
  EXPECT_EQ(SelectionRects[3].Left, 30);
  EXPECT_EQ(SelectionRects[3].Top, 40);
  Click(w, {100, 100});
  EXPECT_TRUE(o.Image3.Visible);
  EXPECT_EQ(w->MarkerImagePoint(2).Y, 100);
  // Both in use: a third click does nothing.
  Click(w, {150, 20});
  EXPECT_EQ(o.Image2.Bounds.center(), QPoint(30, 40));
  EXPECT_EQ(o.Image3.Bounds.center(), QPoint(100, 100));
  // A point marker at the right edge gives the last two columns.
  SetWorkRectFromWindow(1, 2, true);
  Store.Image[1].Width = 101;
  SetWorkRectFromWindow(1, 2, true);
  EXPECT_EQ(WorkRect.x1, 99);
  EXPECT_EQ(WorkRect.x2, 100);
}

TEST_F(SelectionTest, StatusTextAndCropButton) {
  TMDIChild* w = OpenAtZoom(1, 100);
  bool crop = false;
  MainLink().SetCropButtonEnabled = [&crop](bool on) { crop = on; };
  Drag(w, {10, 10}, {29, 19});
  EXPECT_EQ(MainLink().StatusTexts[1], "20 x 10");
  EXPECT_TRUE(crop);
  Drag(w, {50, 50}, {54, 59});
  EXPECT_EQ(MainLink().StatusTexts[1], "20 x 10   5 x 10");
  EXPECT_FALSE(crop);  // two selections
  // Hiding selection 1 moves selection 2 into its place.
  w->MenuTarget = 1;
  w->HideMenuTarget();
  EXPECT_TRUE(w->Overlay().Shape1.Visible);
  EXPECT_FALSE(w->Overlay().Shape2.Visible);
  EXPECT_EQ(w->Overlay().Shape1.Bounds, QRect(50, 50, 5, 10));
  EXPECT_TRUE(crop);
  w->HideAllSelections();
  EXPECT_FALSE(w->Overlay().Shape1.Visible);
  EXPECT_EQ(MainLink().StatusTexts[1], "");
  EXPECT_FALSE(crop);
  MainLink().SetCropButtonEnabled = nullptr;
}

TEST_F(SelectionTest, MovingASelectionByItsFrame) {
  TMDIChild* w = OpenAtZoom(1, 200);
  Drag(w, {20, 20}, {59, 39});  // image 10,10 .. 29,19
  // Press inside the frame and move it by (40, 20) control pixels.
  Mouse(w, QEvent::MouseButtonPress, {30, 30}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(w->ShapePress, 1);
  Mouse(w, QEvent::MouseMove, {70, 50}, Qt::NoButton, Qt::LeftButton);
  Mouse(w, QEvent::MouseButtonRelease, {70, 50}, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(w->ShapePress, 0);
  EXPECT_EQ(w->Overlay().Shape1.Bounds.topLeft(), QPoint(60, 40));
  EXPECT_EQ(SelectionRects[1].Left, 30);
  EXPECT_EQ(SelectionRects[1].Top, 20);
  EXPECT_EQ(SelectionRects[1].Right, 49);
  EXPECT_EQ(MarksChanged.load(), 1);
  // After a zoom change the frame is placed from its image rectangle.
  Store.Display[1].ZoomPercent = 100;
  RedrawWindowZoom(1);
  EXPECT_EQ(w->Overlay().Shape1.Bounds, QRect(30, 20, 20, 10));
}

TEST_F(SelectionTest, MarksGrowToTwoHundredFiftySixAndDeleteBySwapping) {
  TMDIChild* w = OpenAtZoom(1, 100);
  MultiMarkMode = 1;
  Drag(w, {10, 10}, {20, 20});
  ASSERT_EQ(w->MarkCount(), 1);
  TRectI r;
  ASSERT_TRUE(w->MarkImageRect(0, r));
  EXPECT_EQ(r.Left, 10);
  EXPECT_EQ(r.Right, 20);
  EXPECT_EQ(w->Overlay().MarkRects[0].Bottom, 20);
  SetWorkRectFromWindow(1, -1, false);
  EXPECT_EQ(WorkRect.x1, 10);
  // A tiny mark (under 3 pixels both ways) disappears on release.
  Drag(w, {100, 100}, {102, 101});
  EXPECT_EQ(w->MarkCount(), 1);
  // Fill up to 256; the 257th press makes no mark and starts no drag.
  for (int k = 1; k < MaxMarks; ++k) EXPECT_TRUE(w->AddMark(k % 190, 30, 5, 5));
  EXPECT_EQ(w->MarkCount(), 256);
  Mouse(w, QEvent::MouseButtonPress, {150, 140}, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ(w->MarkCount(), 256);
  EXPECT_EQ(w->DragKind, 0);
  Mouse(w, QEvent::MouseButtonRelease, {150, 140}, Qt::LeftButton, Qt::NoButton);
  EXPECT_FALSE(w->AddMark(0, 0, 5, 5));
  // Deleting a middle mark gives its entry the last mark's bounds.
  const QRect last = w->Overlay().MarkShapes.back();
  w->DeleteMark(-1 - 7);  // negative numbers name mark -1-n
  EXPECT_EQ(w->MarkCount(), 255);
  EXPECT_EQ(w->Overlay().MarkShapes[7], last);
  DeleteAllWindowMarks(1);
  EXPECT_EQ(w->MarkCount(), 0);
  w->DeleteMark(3);  // beyond the last: nothing
}

// The batch moves marks and selections by image positions; the window draws
// them at its zoom and reports the new boxes.
TEST_F(SelectionTest, MarksAndSelectionsMovedByImagePosition) {
  for (int zoom : {100, 50, 200}) {
    TMDIChild* w = OpenAtZoom(1, zoom);
    const int tol = std::max(1, 100 / zoom);  // one control pixel in image pixels
    MultiMarkMode = 1;
    ASSERT_TRUE(w->AddMark(4, 4, 6, 6));
    w->MoveMark(0, {40, 30, 50, 44});
    TRectI r;
    ASSERT_TRUE(w->MarkImageRect(0, r));
    EXPECT_NEAR(r.Left, 40, tol) << zoom;
    EXPECT_NEAR(r.Top, 30, tol) << zoom;
    EXPECT_NEAR(r.Right, 50, tol) << zoom;
    EXPECT_NEAR(r.Bottom, 44, tol) << zoom;
    SetWorkRectFromWindow(1, -1, false);
    EXPECT_EQ(WorkRect.x1, r.Left) << zoom;
    w->MoveMark(5, {0, 0, 1, 1});  // no such mark: nothing
    EXPECT_EQ(w->MarkCount(), 1);
    MultiMarkMode = 0;
    Drag(w, {10 * zoom / 100, 10 * zoom / 100}, {30 * zoom / 100, 20 * zoom / 100});
    ASSERT_TRUE(w->SelectionVisible(1));
    const TRectI before = w->SelectionImageRect(1);
    w->CentreSelection(1, 120.4, 80.6);
    const TRectI after = w->SelectionImageRect(1);
    EXPECT_NEAR(after.Right - after.Left, before.Right - before.Left, tol) << zoom;
    EXPECT_NEAR(after.Bottom - after.Top, before.Bottom - before.Top, tol) << zoom;
    EXPECT_NEAR((after.Left + after.Right) / 2.0, 120, tol) << zoom;
    EXPECT_NEAR((after.Top + after.Bottom) / 2.0, 81, tol) << zoom;
    EXPECT_NEAR(WindowSelectionRects[1][1].Left, after.Left, tol) << zoom;
    area_->closeAllSubWindows();
    QApplication::processEvents();
  }
}

TEST_F(SelectionTest, NoSelectionWhileAComputationRuns) {
  TMDIChild* w = OpenAtZoom(1, 100);
  ComputationDone = 0;
  Drag(w, {10, 10}, {40, 40});
  EXPECT_FALSE(w->Overlay().Shape1.Visible);
  ComputationDone = 1;
}

}  // namespace
}  // namespace astrelon::test
