#pragma once
// The first image of a comet stack, kept for measuring. The target of a comet
// stack becomes the sum of frames placed on the comet, in which the stars
// trail; the stars of every later image are measured against the first image
// instead, so that the target's reference points stay where its stars were.
namespace astrelon {

// Keeps a copy of the target's image (at the first image of a comet stack).
void KeepCometReference(int target);
// Frees the kept copy (at the start and at the end of a run).
void ReleaseCometReference();

// While alive, the target slot holds the kept first image and the copy the
// target's own image; without a kept copy (or with its size changed) nothing
// is exchanged.
class TCometReferenceView {
public:
  explicit TCometReferenceView(int target);
  ~TCometReferenceView();
  TCometReferenceView(const TCometReferenceView&) = delete;
  TCometReferenceView& operator=(const TCometReferenceView&) = delete;

private:
  int slot_ = -1;
};

}  // namespace astrelon
