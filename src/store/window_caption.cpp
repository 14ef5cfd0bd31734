#include "store/window_caption.h"

#include "core/settings.h"
#include "store/image_store.h"

namespace astrelon {

std::string WindowCaptionText(int slot) {
  if (slot < 0 || slot >= SlotArraySize) return {};
  const std::string& name = Store.FileName[slot];
  if (Options.FullPath) return name;
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace astrelon
