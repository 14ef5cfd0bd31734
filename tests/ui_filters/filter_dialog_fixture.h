#pragma once
// The shared filter dialog in a main window with image windows: starting a
// function from its menu item, the result's pixels and history texts, slider
// clicks.
#include <QCheckBox>
#include <QLabel>
#include <QMdiArea>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "core/funktion_defs.h"
#include "core/packed_params.h"
#include "filters/dialog/filter_functions.h"
#include "filters/dialog/filter_state.h"
#include "filters/ui/filter_commands.h"
#include "filters/ui/filter_dialog.h"
#include "filters/ui/filter_slider.h"
#include "filters/ui/radio_group.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"

namespace astrelon::test {

class FilterDialogTest : public WindowTest {
protected:
  static void SetUpTestSuite() { RegisterFilterCommands(); }
  static void TearDownTestSuite() { delete DialogForm(1); }
  void SetUp() override {
    WindowTest::SetUp();
    FunktionDefTable = DefaultFunktionDefTable();
    InstallFilterFunktionen();
    form = FilterDialog();
    ASSERT_NE(form, nullptr);
  }
  void TearDown() override {
    if (form->isVisible()) form->Button2Click();
    SetEngineUi(nullptr);
    AbortRequested = 0;
    InstallFilterFunktionen();
    WindowTest::TearDown();
  }
  // Opens the source in slot 1 (value x + 2 y) and starts a function from its menu item.
  void Start(const char* item, int w = 40, int h = 12) {
    TMDIChild* source = Open(1, w, h);
    area_->setActiveSubWindow(source);
    ASSERT_TRUE(RunMenuCommand(item));
    QApplication::processEvents();
  }
  // Slot 1 holding these planes (three make an RGB image), shown as the active window.
  TMDIChild* OpenActive(int w, int h, const std::vector<std::vector<float>>& planes) {
    test::MakeImage(1, w, h, planes);
    Store.Image[1].ColorModel = CmRgb;
    UpdateMinMax(1);
    ResetDisplayRange(1, 0);
    ShowImageWindow(1);
    QApplication::processEvents();
    area_->setActiveSubWindow(ImageWindow(1));
    return ImageWindow(1);
  }
  // Cancels the dialog and closes every image window, so that a loop can start the next function.
  void CancelAndCloseAll() {
    form->Button2->click();
    QApplication::processEvents();
    area_->closeAllSubWindows();
    QApplication::processEvents();
  }
  static float Out(int x, int y) { return Store.Image[2].At(1, x, y); }
  // The texts of every HISTORY card, joined with ", ".
  static std::string History(int slot) {
    std::string all;
    for (const std::string& card : Store.Header[size_t(slot)].ActiveCards())
      if (card.rfind("HISTORY ", 0) == 0)
        all += (all.empty() ? "" : ", ") + card.substr(8, card.find_last_not_of(' ') - 7);
    return all;
  }
  static void PressTrack(TFilterSlider* s, int x) {
    QMouseEvent e(QEvent::MouseButtonPress, QPointF(x, 2), QPointF(s->Track->mapToGlobal(QPoint(x, 2))),
                  Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s->Track, &e);
  }
  TForm1* form = nullptr;
};

}  // namespace astrelon::test
