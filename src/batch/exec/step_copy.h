#pragma once
// The work image copied into the step's free slot for the routines that read
// one slot and write another, and a work image replaced by a result.
namespace astrelon {

struct TStepRun;

// Copies the work image into the run's free slot (nothing when there is
// none); the copy is freed when the object ends.
class TStepCopy {
public:
  explicit TStepCopy(const TStepRun& run);
  ~TStepCopy();
  TStepCopy(const TStepCopy&) = delete;
  TStepCopy& operator=(const TStepCopy&) = delete;

  // The copy's slot; below 1 when no copy was made.
  int Slot() const { return slot_; }
  explicit operator bool() const { return slot_ >= 1; }

private:
  int slot_ = -1;
};

// The image of slot `from` (planes, size, flags, header cards and display
// record) becomes the work image, which keeps its file name, zoom and window;
// `from` is freed.
void ReplaceWorkImage(int work, int from);

// The whole image is the working rectangle of the slot.
struct TWorkRect;
TWorkRect WholeImageRect(int slot);

}  // namespace astrelon
