#include "registration/ui/larson_sekanina_start.h"

#include "common/engine_ui.h"
#include "core/language.h"
#include "filters/dialog/pixel_filters.h"
#include "filters/ui/filter_commands.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {
constexpr int LarsonSekaninaFunction = 16;
constexpr int MarkCentreFirstKey = 12809;
}  // namespace

void LarsonSekaninaStart(QAction* sender) {
  const int active = FindActiveSlot();
  if (active < 1) return;
  const TImageWindowLink* window = Store.Window[size_t(active)];
  if (!window || !(window->SelectionVisible(1) || window->MarkerVisible(1))) {
    EngineUi().ShowMessage(LangTextOr(MarkCentreFirstKey, "Bitte zuerst den Mittelpunkt markieren!"));
    return;
  }
  const TImageSlot& im = Store.Image[size_t(active)];
  LarsonSekaninaLevels = {};
  for (int p = 1; p <= (im.IsColor ? 3 : 1); ++p) {
    TPercentileLevels levels;
    GetPercentileLevels(active, p, 0, im.Width - 1, 0, im.Height - 1, 40, 40, levels);
    LarsonSekaninaLevels[size_t(p)] = float(levels.LevelA);
  }
  AllgemeinerFunktionsStart(sender, LarsonSekaninaFunction);
}

}  // namespace astrelon
