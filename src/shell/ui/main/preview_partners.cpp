#include "shell/ui/main/preview_partners.h"

#include <map>
#include <vector>

#include "shell/main/main_services.h"
#include "shell/stars/star_pick.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/side_panel/star_panel.h"
#include "store/color_models.h"

namespace astrelon {

namespace {

std::map<int, TPreviewPartner>& Partners() {
  static std::map<int, TPreviewPartner> partners;
  return partners;
}

// `other` takes the colour model and the channel selection of `slot`; true when
// its pixels were converted.
bool TakeColours(int slot, int other) {
  const TImageSlot& a = Store.Image[size_t(slot)];
  const TImageSlot& b = Store.Image[size_t(other)];
  if (!a.IsColor || !b.IsColor) return false;
  const bool convert = ColorModelsDiffer(slot, other);
  if (convert) MatchColourModel(slot, other);
  Store.Display[size_t(other)].ChannelSelection = Store.Display[size_t(slot)].ChannelSelection;
  return convert;
}

}  // namespace

void RegisterPreviewPartner(int form, TPreviewPartner partner) { Partners()[form] = std::move(partner); }

void UnregisterPreviewPartner(int form) { Partners().erase(form); }

void FollowPreviewPartners(int slot, int partnerToo) {
  if (!SlotInUse(slot)) return;
  // A refresh may open or close dialogs: the rules are copied first.
  std::vector<TPreviewPartner> partners;
  for (const auto& [form, partner] : Partners()) partners.push_back(partner);
  for (const TPreviewPartner& p : partners) {
    if (!p.Pair) continue;
    const TSlotPair pair = p.Pair();
    if (!SlotInUse(pair.Source) || !SlotInUse(pair.Destination) || pair.Source == pair.Destination) continue;
    if (slot != pair.Source && slot != pair.Destination) continue;
    const int other = slot == pair.Source ? pair.Destination : pair.Source;
    if (TakeColours(slot, other)) ImageChanged(other);
    if (slot == pair.Destination && p.UsesLockedStar && p.UsesLockedStar() && LockedStar.Analysed) ReleaseStarLock();
    if (partnerToo > 0 && p.Refresh) p.Refresh();
  }
}

}  // namespace astrelon
