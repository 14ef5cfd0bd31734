#pragma once
// Runs aligned on marks with image windows played by the test: every slot the
// run shows gets a fake window, the star-check prompt is answered by a script
// (`answer`, called with the prompt's number and the target and work slots),
// and a box drawn by the user lands where the image window puts it.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "batch_run_fixture.h"
#include "fake_window.h"

namespace astrelon::test {

class MarkedRunTest : public BatchRunTest {
protected:
  void SetUp() override {
    BatchRunTest::SetUp();
    BatchRunView.ShowWindow = [this](int slot) {
      Store.HasWindow[size_t(slot)] = 1;
      Store.Window[size_t(slot)] = &windows[size_t(slot)];
    };
    BatchRunView.CloseSlot = [this](int slot) {
      windows[size_t(slot)] = FakeWindow();
      Store.HasWindow[size_t(slot)] = 0;
      Store.Window[size_t(slot)] = nullptr;
      FreeSlot(slot);
    };
    BatchRunView.CopyMarks = [this](int from, int to) {
      FakeWindow& a = windows[size_t(from)];
      FakeWindow& b = windows[size_t(to)];
      b.sel1 = a.sel1;
      b.sel2 = a.sel2;
      b.rect1 = a.rect1;
      b.rect2 = a.rect2;
      b.marks = a.marks;
      b.marker1 = b.marker2 = false;
    };
    BatchRunView.HideMarks = [this](int slot) {
      FakeWindow& w = windows[size_t(slot)];
      w.sel1 = w.sel2 = w.marker1 = w.marker2 = false;
    };
    BatchRunView.KeepMarks = [this](int slot) { kept = windows[size_t(slot)]; };
    BatchRunView.RestoreKeptMarks = [this](int slot) {
      if (!kept) return;
      FakeWindow& w = windows[size_t(slot)];
      w.sel1 = kept->sel1;
      w.sel2 = kept->sel2;
      w.rect1 = kept->rect1;
      w.rect2 = kept->rect2;
      w.marker1 = kept->marker1;
      w.marker2 = kept->marker2;
    };
    BatchRunView.ShowPrompt = [this](const std::string& text) {
      prompts.push_back({BatchRun.FilesDone, text});
      pending = true;
    };
    ui.OnPump = [this] {
      if (!pending) return;
      pending = false;
      answer(int(prompts.size()), BatchRun.TargetSlot, BatchRun.WorkSlot);
    };
  }
  void TearDown() override {
    for (int s = 1; s < int(windows.size()); ++s)
      if (Store.Window[size_t(s)] == &windows[size_t(s)]) {
        Store.Window[size_t(s)] = nullptr;
        Store.HasWindow[size_t(s)] = 0;
      }
    BatchRunTest::TearDown();
  }

  // A fresh run: the run state, the steps, the prompts, messages and kept
  // marks; the windows the last run left open closed.
  void Restart() {
    for (int s = 1; s <= MaxImageSlots; ++s)
      if (Store.InUse[size_t(s)]) BatchRunView.CloseSlot(s);
    ResetRun();
    BatchSteps = TBatchStepList();
    prompts.clear();
    ui.Messages.clear();
    kept.reset();
  }
  void MarkedAddBatch(int marks) {
    Steps({10});
    Step(2).MarksOrInterpolation = marks;
    Step(2).OptionCaption.clear();
    BatchRun.CombineMode = 0;
  }
  void Ok(bool noMoreChecks) {
    BatchRun.PromptAnswered = true;
    BatchRun.CheckStars = !noMoreChecks;
  }
  // A box drawn on the picture outside the window's shapes, as the image
  // window takes it: selection 1 when that is free, else selection 2, else
  // nothing (both in use).
  void DrawBox(int slot, TRectI box) {
    FakeWindow& w = windows[size_t(slot)];
    if (!w.sel1 && !w.marker1) {
      w.sel1 = true;
      w.rect1 = box;
    } else if (!w.sel2 && !w.marker2) {
      w.sel2 = true;
      w.rect2 = box;
    }
  }
  static TRectI BoxAround(double x, double y, int half) {
    const int cx = int(std::nearbyint(x)), cy = int(std::nearbyint(y));
    return {cx - half, cy - half, cx + half, cy + half};
  }

  std::array<FakeWindow, 51> windows;
  std::optional<FakeWindow> kept;
  std::vector<std::pair<int, std::string>> prompts;  // images done, text
  bool pending = false;
  std::function<void(int prompt, int target, int work)> answer;
};

}  // namespace astrelon::test
