#include "pixelops/pixels/raw_time_stamps.h"

#include <exception>

#include "common/paths.h"
#include "store/header_cards.h"
#include "store/image_store.h"
#include "store/raw/camera_raw.h"

namespace astrelon {

namespace {

// Characters first .. last (1-based) of the card, as far as it reaches.
std::string CardColumns(const std::string& card, size_t first, size_t last) {
  if (card.size() < first) return {};
  return card.substr(first - 1, last - first + 1);
}

}  // namespace

std::string TimeStampLine(int slot, const std::string& name) {
  const int date = FindHeaderKeyword(slot, "DATE-OBS");
  if (date < 0) return {};
  const THeaderCardList& h = Store.Header[size_t(slot)];
  std::string line = name + " " + CardColumns(h[size_t(date)], 12, 21);
  const int time = FindHeaderKeyword(slot, "TIME-OBS");
  if (time >= 0) line += " " + CardColumns(h[size_t(time)], 12, 19);
  return line + "\r\n";
}

std::string ListRawTimeStamps(const std::vector<std::string>& fileNames) {
  std::string text;
  for (const std::string& name : fileNames) {
    const int slot = FindFreeSlot();
    if (slot < 1) continue;
    Store.FileName[size_t(slot)] = name;
    bool loaded = false;
    try {
      loaded = LoadCameraRaw(slot, name, false, false, false);
    } catch (const std::exception&) {
      loaded = false;
    }
    if (loaded) text += TimeStampLine(slot, ExtractFileName(name));
    // The slot was scratch space only.
    FreeSlot(slot);
  }
  return text;
}

}  // namespace astrelon
