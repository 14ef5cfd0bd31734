// "Hintergrund ebnen Nebel" and "… variabel" from the menu: a flattened copy with
// its history card; the radius prompt's answer clamped, refused or cancelled.
#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <optional>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "core/language.h"
#include "pixelops/ui/flattening/background_flattening_commands.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class BackgroundFlatteningCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterBackgroundFlatteningCommands();
  }
  void TearDown() override {
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }
  void OpenPlane(int slot, int w, int h, const std::vector<float>& plane) {
    Open(slot, w, h);
    Store.Image[size_t(slot)].Planes[1] = TPlane(plane.begin(), plane.end());
    ResetDisplayRange(slot, 0);
    ActivateImageWindow(slot);
  }
  // Runs a command; with `prompted` its prompt gets `answer` (nullopt: Cancel).
  static void Run(const char* name, const char* caption, bool prompted, std::optional<QString> answer = {}) {
    if (prompted)
      WhenModal([answer](QWidget* w) {
        if (!answer) return qobject_cast<QDialog*>(w)->reject();
        w->findChild<QLineEdit*>()->setText(*answer);
        qobject_cast<QDialog*>(w)->accept();
      });
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
  }
  static bool HasHistory(int slot, const std::string& text) {
    const auto cards = Store.Header[size_t(slot)].ActiveCards();
    return std::find(cards.begin(), cards.end(), PadCard(FoldToAscii("HISTORY " + text))) != cards.end();
  }

  TEngineUi ui_;
};

TEST_F(BackgroundFlatteningCommandsTest, NebulaFlattensACopy) {
  const std::vector<float> v(64 * 48, 1000.0f);
  OpenPlane(1, 64, 48, v);
  Run("HintergrundebnenNebel1", "Hintergrund ebnen &Nebel", false);
  ASSERT_TRUE(Store.HasWindow[2]);
  for (float x : Store.Image[2].Planes[1]) ASSERT_NEAR(x, 1000.0f, 1e-2f);
  EXPECT_TRUE(HasHistory(2, "Hintergrund ebnen Nebel"));
  EXPECT_EQ(RecentFunctionCaption(0), "Hintergrund ebnen Nebel");
  EXPECT_EQ(std::vector<float>(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end()), v);
  EXPECT_EQ(SlotPair.Source, -1);
}

TEST_F(BackgroundFlatteningCommandsTest, VariableFlattensTheSelectionWithAClampedRadius) {
  std::vector<float> v(80 * 60);
  for (size_t i = 0; i < v.size(); ++i) v[i] = 500.0f + float(i % 80) + float(i / 80);
  OpenPlane(1, 80, 60, v);
  TMDIChild* w = ImageWindow(1);
  w->Overlay().Shape1.Visible = true;
  w->Overlay().Shape1.Bounds = QRect(QPoint(10, 8), QPoint(60, 50));
  // Cancelled and refused answers leave no result.
  Run("HintergrundebnenSterne21", "Hintergrund ebnen &variabel", true);
  Run("HintergrundebnenSterne21", "Hintergrund ebnen &variabel", true, QString("abc"));
  EXPECT_FALSE(Store.InUse[2]);
  Run("HintergrundebnenSterne21", "Hintergrund ebnen &variabel", true, QString("500"));
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_TRUE(HasHistory(2, "Hintergrund ebnen variabel 200"));
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x)
      if (x <= 10 || x >= 60 || y <= 8 || y >= 50)
        ASSERT_EQ(Store.Image[2].At(1, x, y), v[size_t(y * 80 + x)]) << x << "," << y;
}

}  // namespace
}  // namespace astrelon::test
