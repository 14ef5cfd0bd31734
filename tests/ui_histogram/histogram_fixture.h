#pragma once
// A main window with its MDI area, the histogram window, and images in slots.
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMouseEvent>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "shell/display/renderer.h"
#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

class HistogramWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    ResetImageWindowState();
    savedSettings_ = Settings;
    savedOptions_ = Options;
    Settings.ZoomEntry = 5;  // 100 %
    Settings.HistogramMenuChecked = 1;
    Options.BlackToZero = 0;
    Options.GammaAdjust = 0;
    main_ = std::make_unique<QMainWindow>();
    area_ = new QMdiArea;
    main_->setCentralWidget(area_);
    main_->resize(900, 700);
    AttachMainWindow(main_.get(), area_);
    main_->show();
    RegisterHistogramCommands();
    HistogramPlaceDefaulted = true;  // a first run
    form_ = CreateHistogramWindow(main_.get());
    SetEngineUi(&ui_);
    QApplication::processEvents();
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    area_->closeAllSubWindows();
    QApplication::processEvents();
    main_.reset();
    QApplication::processEvents();
    Settings = savedSettings_;
    Options = savedOptions_;
    Store.Reset();
  }

  // A w x h grey image with value f(x, y), shown in its window and made active.
  TMDIChild* Open(int slot, int w, int h, const std::function<float(int, int)>& f) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = 1;
    im.IsColor = 0;
    im.Planes[1].resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.Planes[1][size_t(y) * size_t(w) + size_t(x)] = f(x, y);
    Store.InUse[size_t(slot)] = 1;
    Store.FileName[size_t(slot)] = "/data/hist_" + std::to_string(slot) + ".fit";
    MakeDefaultHeader(slot);
    ResetDisplayRange(slot, 0);
    ComputeHistogram(slot, false, false);
    ShowImageWindow(slot);
    TMDIChild* window = ImageWindow(slot);
    area_->setActiveSubWindow(window);
    QApplication::processEvents();
    form_->RefreshHistogramWindow();
    return window;
  }

  // Mouse events on the histogram window's drawing surface.
  void Mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(pos), QPointF(form_->Area->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(form_->Area, &e);
  }
  void Press(QPoint p, Qt::MouseButton b = Qt::LeftButton) { Mouse(QEvent::MouseButtonPress, p, b, b); }
  void MoveTo(QPoint p) { Mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton); }
  void Release(QPoint p, Qt::MouseButton b = Qt::LeftButton) { Mouse(QEvent::MouseButtonRelease, p, b, Qt::NoButton); }

  // Counts the renders of image windows (the image windows' own handler comes
  // back with the next test's main window).
  static std::vector<int>& RenderedSlots() {
    static std::vector<int> rendered;
    return rendered;
  }
  static int Renders() { return int(RenderedSlots().size()); }
  static void CountRenders() {
    RenderedSlots().clear();
    SetWindowRenderedHandler([](int slot, bool) { RenderedSlots().push_back(slot); });
  }

  TDisplayRecord& Record(int slot) { return Store.Display[size_t(slot)]; }

  std::unique_ptr<QMainWindow> main_;
  QMdiArea* area_ = nullptr;
  TForm2* form_ = nullptr;
  TEngineUi ui_;
  TSettingsVars savedSettings_;
  TProgramOptions savedOptions_;
};

}  // namespace astrelon::test
