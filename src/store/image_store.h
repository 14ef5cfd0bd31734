#pragma once
// The program's images: slots 1..49 of parallel arrays (slot 0 is scratch space
// for reading a file's header alone), the working rectangle, the source/destination
// pair of the current operation and the operation flags.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "store/display/display_record.h"
#include "store/header_cards.h"
#include "store/image_slot.h"
#include "store/planes/min_max_scan.h"

namespace astrelon {

constexpr int MaxImageSlots = 49;
constexpr int SlotArraySize = 51;  // indices 0..50

struct TRectI {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // inclusive
};
struct TPointI {
  int32_t X = 0, Y = 0;
};

// What the engine needs of a slot's image window: its marks, markers and
// selections (read, and moved by the batch), icons and progress. The Qt image
// window implements it.
class TImageWindowLink {
public:
  virtual ~TImageWindowLink() = default;
  virtual int MarkCount() const = 0;
  // Bounds of mark k (0-based) in image pixels; false when it cannot be read.
  virtual bool MarkImageRect(int k, TRectI& r) const = 0;
  // Marker picture n (1 = Image2, else Image3): visible, and the image point under its centre.
  virtual bool MarkerVisible(int n) const = 0;
  virtual TPointI MarkerImagePoint(int n) const = 0;
  // Selection shape n (1 = Shape1, else Shape2): visible, and its bounds in image pixels.
  virtual bool SelectionVisible(int n) const = 0;
  virtual TRectI SelectionImageRect(int n) const = 0;
  // Moves mark k (0-based) to the rectangle r in image pixels (inclusive).
  virtual void MoveMark(int k, const TRectI& r) = 0;
  // Moves selection shape n (1 = Shape1, else Shape2), keeping its size, so that
  // it is centred on the image position (x, y) rounded to whole pixels.
  virtual void CentreSelection(int n, double x, double y) = 0;
  // Border icons while an interactive operation runs (maximise only) or not.
  virtual void SetOperationIcons(bool running) = 0;
  // Progress bar and its caption label.
  virtual void ShowProgressBar(int percent, const std::string& caption) = 0;
  virtual void HideProgressBar() = 0;
  // Whether this is the main window's active image window.
  virtual bool IsActiveWindow() const = 0;
};

struct TImageStore {
  std::array<uint8_t, SlotArraySize> InUse{};
  std::array<uint8_t, SlotArraySize> HasWindow{};
  std::array<TImageSlot, SlotArraySize> Image;
  std::array<TImageWindowLink*, SlotArraySize> Window{};
  std::array<TDisplayRecord, SlotArraySize> Display;
  std::array<THeaderCardList, SlotArraySize> Header;
  std::array<uint8_t, SlotArraySize> NewHistoryCard{};
  std::array<std::string, SlotArraySize> FileName;

  TImageStore();
  // Frees every slot (planes, header, window link); used at start-up and by tests.
  void Reset();
};

extern TImageStore Store;

// Working rectangle, inclusive image coordinates.
struct TWorkRect {
  int32_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};
extern TWorkRect WorkRect;

// Source and destination of the current operation; -1 = none.
struct TSlotPair {
  int32_t Source = -1;
  int32_t Destination = -1;
};
extern TSlotPair SlotPair;

// Operation flags; atomic since worker threads poll them.
extern std::atomic<uint8_t> OperationRunning;
extern std::atomic<uint8_t> AbortRequested;
extern std::atomic<uint8_t> FilterAbortRequested;
extern std::atomic<uint8_t> ComputationDone;

inline bool ValidSlot(int slot) { return slot >= 1 && slot <= MaxImageSlots; }
inline bool SlotInUse(int slot) { return ValidSlot(slot) && Store.InUse[slot]; }
// The window of a slot in use that shows one; nullptr otherwise.
inline TImageWindowLink* OpenWindowLink(int slot) {
  return SlotInUse(slot) && Store.HasWindow[size_t(slot)] ? Store.Window[size_t(slot)] : nullptr;
}

int FindFreeSlot();
// Number of slots 1..49 in use, and of those free.
int CountOpenWindows();
int CountFreeSlots();
int FindActiveSlot();
void CopyPlane(int src, int p, int dst, int q);
bool CopyImageSlot(int src, int dst);
bool NewResultSlot();
bool NewResultSlotRgb();
void MakeCopyName(int src, int dst);
// True when the free memory exceeds what a memory-hungry operation on the slot needs.
bool HasMemoryForSlot(int slot);

void SetWorkRectToImage(int slot);
void SetWorkRect(const TRectI& r);
void SetWorkRectFromWindow(int slot, int n, bool pointOnly);
// Clamps the working rectangle into the slot's image (a one-pixel image gives a
// one-pixel rectangle; otherwise at least 2 x 2).
void ClampWorkRectToImage(int slot);
// Enters or leaves an interactive two-window operation on SlotPair (the
// running flag, the pair's border icons); the user interface refreshes the
// enabling of its commands (NotifySlotGuardChanged).
void SetOperationActive(bool active);

void UpdateMinMax(int slot);
// UpdateMinMax from scans that a reader made while writing the planes: scans[p]
// covers every pixel of plane p (1..PlaneCount).
void SetMinMaxFromScans(int slot, const std::array<TMinMaxScan, 4>& scans);
float GetPlaneMean(int slot, int p);
void SetAutoDisplayRange(int slot, bool keepGamma);
void ResetDisplayRange(int slot, float white);
// ResetDisplayRange for a slot whose minimum and maximum are current, without
// measuring its planes again.
void ResetDisplayRangeMeasured(int slot, float white);

void HideProgress(int slot);
int GetProgressPercent(int slot, int plane, bool inRect, float pos, bool thirds, bool direct, bool asGrey);
void ShowProgress(int ownerSlot, int windowSlot, int plane, float pos, bool inRect, bool thirds, bool direct,
                  bool asGrey, const std::string& text);

// Frees a slot's planes and clears its flags (the engine half of closing a
// window); false, with nothing changed, while running workers hold the slot.
bool FreeSlot(int slot);

}  // namespace astrelon
