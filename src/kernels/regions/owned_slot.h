#pragma once
// A slot that a routine made for its own use (a spectrum, a copy): freed when
// the owner goes out of scope, unless it was kept as a result.
#include <utility>

#include "store/image_store.h"

namespace astrelon {

class TOwnedSlot {
public:
  explicit TOwnedSlot(int slot) : slot_(slot) {}
  ~TOwnedSlot() { Free(); }
  TOwnedSlot(const TOwnedSlot&) = delete;
  TOwnedSlot& operator=(const TOwnedSlot&) = delete;

  int Get() const { return slot_; }
  bool Made() const { return slot_ >= 1; }
  // The slot is the caller's from now on.
  int Keep() { return std::exchange(slot_, -1); }
  void Free() {
    if (SlotInUse(slot_)) FreeSlot(slot_);
    slot_ = -1;
  }

private:
  int slot_;
};

}  // namespace astrelon
