#pragma once
// The progress of a long command in panel 2 of the main status bar: at most
// every 15 ms the panel gets the text for the progress so far and pending
// events run (Esc, repaints); false once the abort flag is raised.
#include <QApplication>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>

#include "shell/ui/main/main_window_link.h"
#include "store/image_store.h"

namespace astrelon {

class TStatusPoll {
public:
  // text(plane, rows) gives the panel's text; an empty text leaves it.
  explicit TStatusPoll(std::function<QString(int plane, int64_t rows)> text) : text_(std::move(text)) {}
  bool operator()(int plane, int64_t rows) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ >= std::chrono::milliseconds(15)) {
      last_ = now;
      if (const QString t = text_(plane, rows); !t.isEmpty()) SetMainStatusText(2, t);
      QApplication::processEvents();
    }
    return !AbortRequested;
  }

private:
  std::function<QString(int, int64_t)> text_;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace astrelon
