#pragma once
// Commands issued while an operation's workers run. Worker threads are held at
// a gate: every thread started through BandThreadStarter while it is closed
// waits until it opens (so nothing that joins band threads without letting
// events run may happen while it is closed). MidRunCommand, at the first
// ProcessMessages of the operation, opens the gate and issues a command: the
// workers certainly run while the command does.
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

#include "common/engine_ui.h"
#include "pixelops/pixels/invert_image.h"
#include "platform/parallel_bands.h"
#include "shell/slots/slot_orientation.h"
#include "store/image_store.h"

namespace astrelon::test {

class GatedWorkers {
public:
  GatedWorkers() {
    Set(false);
    BandThreadStarter = &Start;
  }
  ~GatedWorkers() {
    Open();
    BandThreadStarter = nullptr;
  }
  GatedWorkers(const GatedWorkers&) = delete;
  GatedWorkers& operator=(const GatedWorkers&) = delete;
  static void Open() { Set(true); }

private:
  struct TGate {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Open = true;
  };
  static TGate& Gate() {
    static TGate gate;
    return gate;
  }
  static void Set(bool open) {
    {
      const std::lock_guard lock(Gate().Mutex);
      Gate().Open = open;
    }
    Gate().Changed.notify_all();
  }
  static std::thread Start(std::function<void()> body) {
    return std::thread([body = std::move(body)] {
      {
        std::unique_lock lock(Gate().Mutex);
        Gate().Changed.wait(lock, [] { return Gate().Open; });
      }
      body();
    });
  }
};

// Opens the gate and runs `command`, once, at the first ProcessMessages.
class MidRunCommand : public TEngineUi {
public:
  explicit MidRunCommand(std::function<void()> command) : command_(std::move(command)) {}
  void ProcessMessages() override {
    if (issued_) return;
    issued_ = true;
    GatedWorkers::Open();
    command_();
  }
  bool Issued() const { return issued_; }

private:
  std::function<void()> command_;
  bool issued_ = false;
};

// Every command that changes a slot in place or frees it, on each slot.
inline void TryToChangeSlots(std::initializer_list<int> held) {
  for (int s : held) {
    RotateSlotRight90(s);
    MirrorSlotHorizontal(s);
    FlipSlotVertical(s);
    SetWorkRectToImage(s);
    InvertImage(s);
    FreeSlot(s);
  }
}

// What a slot holds: in use, size and planes.
struct SlotState {
  bool InUse = false;
  int Width = 0, Height = 0;
  std::vector<std::vector<float>> Planes;
  explicit SlotState(int slot) {
    const TImageSlot& im = Store.Image[size_t(slot)];
    InUse = Store.InUse[size_t(slot)] != 0;
    Width = im.Width;
    Height = im.Height;
    for (int p = 1; p <= im.PlaneCount && p <= 3; ++p) Planes.emplace_back(im.Planes[size_t(p)].begin(), im.Planes[size_t(p)].end());
  }
  bool operator==(const SlotState&) const = default;
};

}  // namespace astrelon::test
