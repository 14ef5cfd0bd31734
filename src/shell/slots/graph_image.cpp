#include "shell/slots/graph_image.h"

#include "core/language.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon {

int PictureToNewImage(const TPicture& picture) {
  const int slot = FindFreeSlot();
  if (slot < 1 || !GraphicToSlot(picture, slot, true)) return -1;
  ResetDisplayRange(slot, 255.0f);
  MakeDefaultHeader(slot);
  const std::string prefix = LanguageFileLoaded ? LangText(1052) : std::string();
  Store.FileName[slot] = (prefix.empty() ? std::string("Grafik_") : prefix) + "0.png";
  TImageSlot& im = Store.Image[slot];
  im.NumberedName = 0;
  im.DataChanged = 0;
  MakeCopyName(slot, slot);
  return slot;
}

}  // namespace astrelon
