// Where windows start: a tool window beside what it belongs to, and a new image
// window moved into the image area so that its picture is not cut.
#include <QApplication>

#include "shell/ui/windows/window_placement.h"
#include "window_fixture.h"

namespace astrelon {
namespace {

TEST(WindowPlacement, BesideTheAnchorWhereThereIsRoom) {
  const QRect desk(0, 0, 1000, 700);
  const struct {
    QRect anchor;
    QSize size;
    QPoint want;
  } cases[] = {
      {{100, 50, 300, 200}, {250, 80}, {400, 50}},    // right of it
      {{600, 50, 300, 200}, {250, 80}, {350, 50}},    // no room right: left of it
      {{0, 0, 1000, 700}, {250, 80}, {750, 0}},       // no room either side: its top-right corner
      {{100, 650, 300, 200}, {250, 80}, {400, 620}},  // kept on the desk
  };
  for (const auto& c : cases) EXPECT_EQ(PlaceBeside(c.anchor, c.size, desk), c.want) << c.anchor.x();
  // A new window is moved up and left only as far as its size needs.
  EXPECT_EQ(NewWindowPlace({40, 300}, {300, 200}, {800, 600}), QPoint(40, 300));
  EXPECT_EQ(NewWindowPlace({40, 560}, {300, 200}, {800, 600}), QPoint(40, 400));
  EXPECT_EQ(NewWindowPlace({700, 560}, {900, 700}, {800, 600}), QPoint(0, 0));
  // A first-run tool window: beside the main window where the desk has room, else in the
  // image area's bottom-right corner; out of an image window's way, narrower when need be.
  EXPECT_EQ(FirstRunToolPlace({100, 50, 500, 600}, {110, 120, 480, 500}, {250, 80}, desk), QPoint(600, 120));
  EXPECT_EQ(FirstRunToolPlace({0, 0, 1000, 700}, {10, 70, 980, 600}, {250, 80}, desk), QPoint(740, 590));
  const QRect area(10, 70, 980, 600);
  EXPECT_EQ(FreeCornerPlace(area, {}, {250, 80}, {200, 60}), QRect(740, 590, 250, 80));
  EXPECT_EQ(FreeCornerPlace(area, {10, 70, 760, 300}, {250, 80}, {200, 60}), QRect(740, 590, 250, 80));
  EXPECT_EQ(FreeCornerPlace(area, {10, 70, 760, 560}, {250, 80}, {200, 60}), QRect(770, 590, 220, 80));
  EXPECT_EQ(FreeCornerPlace(area, {10, 70, 850, 530}, {250, 80}, {200, 60}), QRect(740, 600, 250, 70));
  EXPECT_EQ(FreeCornerPlace(area, {10, 70, 850, 560}, {250, 80}, {200, 60}), std::nullopt);
}

using PlacementWindowTest = test::WindowTest;

// A large image opened where the area's next free place lies far right (beside
// a large and a small window) still shows its picture at the fitted zoom, not a strip.
TEST_F(PlacementWindowTest, NewWindowOfALargeImageShowsItsPicture) {
  Settings.ZoomEntry = 0;  // Autozoom
  Open(1, 1500, 1000);
  Open(2, 60, 40);
  TMDIChild* w = Open(3, 3000, 2000);
  ASSERT_NE(w, nullptr);
  const QRect area(QPoint(0, 0), area_->viewport()->size());
  EXPECT_TRUE(area.contains(w->geometry())) << w->geometry().x() << " " << w->geometry().width();
  const int z = Store.Display[3].ZoomPercent;
  EXPECT_GE(w->Image1->height(), 2000 * z / 100);
  EXPECT_GE(w->Image1->width(), 3000 * z / 100);
}

}  // namespace
}  // namespace astrelon
