// The side panel's tool buttons: their hints and what a click asks of the main window.
#include <QToolButton>
#include <vector>

#include <gtest/gtest.h>

#include "qt_test_app.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/side_panel/side_panel.h"
#include "shell/windows/image_window_state.h"

namespace astrelon::test {
namespace {

TEST(SidePanelTools, HintsAndActions) {
  TSidePanel panel(nullptr);
  EXPECT_EQ(panel.SpeedButton1->toolTip(), "Infomodus - normaler Modus");
  EXPECT_EQ(panel.SpeedButton2->toolTip(), "Stempel: Rechtsklick->Auswahl, Linksklick->malen");
  EXPECT_EQ(panel.SpeedButton3->toolTip(), QString::fromUtf8("Rückgängig machen"));
  EXPECT_EQ(panel.SpeedButton4->toolTip(), "Kopier Stempel:  Rechtsklick->markieren, Linke Maustaste->kopieren");

  std::vector<int> modes;
  int undone = 0;
  const TMainWindowLink saved = MainLink();
  MainLink().SetInfoPanelMode = [&](int mode) { modes.push_back(mode); };
  MainLink().UndoLastStep = [&] { ++undone; };
  CopySourceSlot = 5;
  panel.SpeedButton1->click();
  panel.SpeedButton2->click();
  panel.SpeedButton4->click();
  EXPECT_EQ(CopySourceSlot, 0);
  panel.SpeedButton3->setEnabled(true);
  panel.SpeedButton3->click();
  MainLink() = saved;
  EXPECT_EQ(modes, (std::vector<int>{1, 3, 7}));
  EXPECT_EQ(undone, 1);
}

}  // namespace
}  // namespace astrelon::test
