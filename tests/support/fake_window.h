#pragma once
// An image window for engine tests: it answers the store's questions from its
// fields and records what it is told (icons, progress).
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "store/image_store.h"

namespace astrelon::test {

class FakeWindow : public TImageWindowLink {
public:
  int MarkCount() const override { return int(marks.size()); }
  bool MarkImageRect(int k, TRectI& r) const override {
    r = marks[size_t(k)];
    return true;
  }
  bool MarkerVisible(int n) const override { return n == 1 ? marker1 : marker2; }
  TPointI MarkerImagePoint(int) const override { return markerPoint; }
  bool SelectionVisible(int n) const override { return n == 1 ? sel1 : sel2; }
  TRectI SelectionImageRect(int n) const override { return n == 1 ? rect1 : rect2; }
  void MoveMark(int k, const TRectI& r) override { marks[size_t(k)] = r; }
  void CentreSelection(int n, double x, double y) override {
    TRectI& r = n == 1 ? rect1 : rect2;
    const int w = r.Right - r.Left, h = r.Bottom - r.Top;
    r.Left = int(std::nearbyint(x)) - w / 2;
    r.Top = int(std::nearbyint(y)) - h / 2;
    r.Right = r.Left + w;
    r.Bottom = r.Top + h;
  }
  void SetOperationIcons(bool running) override { iconsRunning = running; }
  void ShowProgressBar(int percent, const std::string& caption) override {
    lastPercent = percent;
    lastCaption = caption;
    shown.push_back(caption + " " + std::to_string(percent));
    if (onProgress) onProgress(percent);
  }
  void HideProgressBar() override {
    lastPercent = -1;
    ++hidden;
  }
  bool IsActiveWindow() const override { return active; }

  std::vector<TRectI> marks;
  bool marker1 = false, marker2 = false, sel1 = false, sel2 = false, active = false, iconsRunning = false;
  TPointI markerPoint;
  TRectI rect1, rect2;
  int lastPercent = -1;
  std::string lastCaption;
  std::vector<std::string> shown;  // every progress shown, as "caption percent"
  int hidden = 0;
  std::function<void(int percent)> onProgress;
};

}  // namespace astrelon::test
