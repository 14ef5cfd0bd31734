#pragma once
// A dialog handler's work with its failures shown as messages, so that no
// exception reaches the event loop and the images stay as the work left them.
#include <new>
#include <stdexcept>
#include <string>

#include "common/engine_ui.h"

namespace astrelon {

template <class F>
void RunGuarded(F&& f) {
  try {
    f();
  } catch (const std::bad_alloc&) {
    EngineUi().ShowMessage("Nicht genug Speicher");
  } catch (const std::exception& e) {
    EngineUi().ShowMessage(std::string("Fehler: ") + e.what());
  }
}

}  // namespace astrelon
