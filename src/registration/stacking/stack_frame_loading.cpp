#include "registration/stacking/stack_frame_loading.h"

#include <new>

#include "common/engine_ui.h"
#include "common/series_number.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "platform/avi_reader.h"
#include "registration/stacking/stack_alignment.h"
#include "store/named_load.h"
#include "store/image_store.h"
#include "store/load_messages.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon {

bool LoadStackFrame(int slot, const std::string& name, bool colour) {
  try {
    if (BatchVideoInput && StackVideo) {
      const int32_t n = GetSeriesNumber(name);
      if (n >= 0 && ReadAviFrame(*StackVideo, n, false) && GraphicToSlot(StackVideo->Frame, slot, colour)) {
        Store.FileName[size_t(slot)] = name;
        return true;
      }
    }
    return LoadImageFileNamed(slot, name);
  } catch (const std::bad_alloc&) {
    FreeSlot(slot);
    EngineUi().ShowMessage(OutOfMemoryText(name));
    return false;
  }
}

void SetStackStatusFunction(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetFunctionLabel(text);
}

void SetStackStatusProgress(const std::string& text) {
  if (BatchStatusLabels) BatchStatusLabels->SetProgressLabel(text);
}

}  // namespace astrelon
