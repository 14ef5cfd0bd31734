// "Sonnen&oberfläche ebnen" from the menu: a flattened copy with its history
// card, and no copy when nothing of the disc can be measured.
#include <QAction>
#include <cmath>

#include "../ui_windows/window_fixture.h"
#include "core/language.h"
#include "pixelops/ui/flattening/sun_surface_commands.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class SunSurfaceCommandTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterSunSurfaceCommands();
  }
  void OpenPlane(int slot, int w, int h, std::vector<float> plane) {
    Open(slot, w, h);
    Store.Image[size_t(slot)].Planes[1] = TPlane(plane.begin(), plane.end());
    ResetDisplayRange(slot, 0);
    ActivateImageWindow(slot);
  }
  static void Run() {
    QAction item(QString::fromUtf8("Sonnen&oberfläche ebnen"));
    item.setObjectName("Sonnenoberflcheebnen1");
    EXPECT_TRUE(RunMenuCommand("Sonnenoberflcheebnen1", &item));
  }
};

TEST_F(SunSurfaceCommandTest, FlattensACopyOfTheActiveImage) {
  const int w = 160, h = 140;
  std::vector<float> v(size_t(w * h), 50.0f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double r = std::hypot(x - 80.0, y - 70.0) / 50.0;
      if (r < 1) v[size_t(y * w + x)] = float(4000 * (0.4 + 0.6 * std::sqrt(1 - r * r)));
    }
  OpenPlane(1, w, h, v);
  Run();
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_NEAR(Store.Image[2].At(1, 80, 70), 4000, 40);
  EXPECT_NEAR(Store.Image[2].At(1, 80, 100), 4000, 80);  // was 3520
  EXPECT_EQ(Store.Image[2].At(1, 2, 2), 0.0f);
  EXPECT_EQ(Store.Image[1].At(1, 80, 100), v[size_t(100 * w + 80)]);
  const auto cards = Store.Header[2].ActiveCards();
  EXPECT_NE(std::find(cards.begin(), cards.end(), PadCard(FoldToAscii("HISTORY Sonnenoberfläche ebnen"))),
            cards.end());
  EXPECT_EQ(RecentFunctionCaption(0), "Sonnenoberfläche ebnen");
  EXPECT_EQ(SlotPair.Source, -1);
}

TEST_F(SunSurfaceCommandTest, NothingMeasurableClosesTheCopy) {
  OpenPlane(1, 20, 20, std::vector<float>(400, BlankPixel));
  Run();
  EXPECT_EQ(CountOpenWindows(), 1);
  EXPECT_FALSE(Store.InUse[2]);
}

}  // namespace
}  // namespace astrelon::test
