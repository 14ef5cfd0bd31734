#pragma once
// Dialogs that preview an operation from a source image into a result image
// while they are open. When the colour model or the channel selection of one of
// the two changes, the other takes them over, and the dialog computes its
// preview anew. Each dialog registers once; UpdateInfoPanel runs the rule.
#include <functional>

#include "store/image_store.h"

namespace astrelon {

struct TPreviewPartner {
  // The dialog's source and result while its operation runs ({-1, -1} otherwise).
  std::function<TSlotPair()> Pair;
  // One of the two images was switched: show the preview controls and compute
  // the preview anew.
  std::function<void()> Refresh;
  // Whether the dialog works with the locked star, which a switch of its result drops.
  std::function<bool()> UsesLockedStar;
};

// Registers (or replaces) the partner rule of dialog form n.
void RegisterPreviewPartner(int form, TPreviewPartner partner);

// The rule of a dialog class with Pair() and PartnerSwitched(), reached through
// `dialog` (null while the dialog does not exist).
template <class TDialog>
TPreviewPartner DialogPartner(TDialog* (*dialog)()) {
  return {.Pair = [dialog] {
            TDialog* d = dialog();
            return d ? d->Pair() : TSlotPair{};
          },
          .Refresh = [dialog] {
            if (TDialog* d = dialog()) d->PartnerSwitched();
          },
          .UsesLockedStar = nullptr};
}
// Forgets the rule of dialog form n.
void UnregisterPreviewPartner(int form);

// The slot's colour model or channel selection may have changed. For every open
// dialog whose source or result the slot is, the other image takes the slot's
// colour model (converted in place) and channel selection, a dialog working
// with the locked star drops it when the slot is its result, and with
// partnerToo > 0 the dialog refreshes its preview.
void FollowPreviewPartners(int slot, int partnerToo);

}  // namespace astrelon
