#pragma once
// A main window with an MDI area, and images in slots, for the image-window tests.
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMouseEvent>
#include <memory>
#include <vector>

#include "core/batch_state.h"
#include "core/settings.h"
#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "shell/ui/windows/window_creation.h"
#include "shell/windows/image_window_state.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {

class WindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    ResetImageWindowState();
    savedSettings_ = Settings;
    Settings.ZoomEntry = 5;  // 100 %
    OperationRunning = 0;
    AbortRequested = 0;
    BatchRunning = 0;
    MultiMarkMode = 0;
    ComputationDone = 1;
    SlotPair = {};
    main_ = std::make_unique<QMainWindow>();
    area_ = new QMdiArea;
    main_->setCentralWidget(area_);
    main_->resize(1000, 800);
    AttachMainWindow(main_.get(), area_);
    main_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    OperationRunning = 0;
    BatchRunning = 0;
    MultiMarkMode = 0;
    area_->closeAllSubWindows();
    QApplication::processEvents();
    main_.reset();
    QApplication::processEvents();
    Settings = savedSettings_;
    Store.Reset();
  }

  // A w x h grey image whose value rises to the right and down.
  void MakeImage(int slot, int w, int h) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = 1;
    im.IsColor = 0;
    im.Planes[1].resize(size_t(w) * size_t(h), 0.0f);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.Planes[1][size_t(y) * size_t(w) + size_t(x)] = float(x + 2 * y);
    Store.InUse[size_t(slot)] = 1;
    Store.FileName[size_t(slot)] = "/data/test_" + std::to_string(slot) + ".fit";
    MakeDefaultHeader(slot);
    ResetDisplayRange(slot, 0);
  }
  TMDIChild* Open(int slot, int w, int h) {
    MakeImage(slot, w, h);
    ShowImageWindow(slot);
    QApplication::processEvents();
    return ImageWindow(slot);
  }

  // Sends a mouse event to the picture of a window at a control position.
  static void Mouse(TMDIChild* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->Image1->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w->Image1, &e);
  }
  static void Click(TMDIChild* w, QPoint pos) {
    Mouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
  }
  static void Drag(TMDIChild* w, QPoint from, QPoint to) {
    Mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    Mouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  }

  std::unique_ptr<QMainWindow> main_;
  QMdiArea* area_ = nullptr;
  TSettingsVars savedSettings_;
};

}  // namespace astrelon::test
