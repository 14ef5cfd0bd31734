#include "common/engine_ui.h"

namespace astrelon {
namespace {
TEngineUi defaultUi;
TEngineUi* current = &defaultUi;
}  // namespace

TEngineUi& EngineUi() { return *current; }
void SetEngineUi(TEngineUi* ui) { current = ui ? ui : &defaultUi; }
bool EngineUiInstalled() { return current != &defaultUi; }

}  // namespace astrelon
