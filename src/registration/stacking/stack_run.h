#pragma once
// What one stack combination keeps while it runs, shared by its two ways of
// filling the bands: frames loaded into a slot (any file type, aligned frames,
// video frames) and FITS frames read row by row straight from their files.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/worker_pool.h"
#include "registration/stacking/combine_image_stack.h"
#include "registration/stacking/frame_shape.h"

namespace astrelon {

constexpr int MaxStackPlanes = 3;
using TPlaneFigures = std::array<float, MaxStackPlanes + 1>;  // index 1..3

// The flat-dark subtracted from flats before levelling (Slot 0: none).
struct TFlatDark {
  int Slot = 0;
  TPlaneFigures Level{};
  // The flat-dark's plane that serves plane p.
  int PlaneFor(int p) const;
};

// Levelling of one frame: value + C (darks, lights) or value * C (flats).
struct TLevelling {
  TPlaneFigures C{};
  bool Multiply = false;
  float Apply(int p, float v) const { return Multiply ? v * C[size_t(p)] : v + C[size_t(p)]; }
};

struct TStackRun {
  TStackOptions Options;
  int Target = 0;
  int Count = 0;  // frames of the run's file list taken
  int32_t W = 0, H = 0, P = 1;
  double Q = 30;  // percentage of the levels
  TPlaneFigures L1{};
  TFlatDark Dark;
  TFrameShape FirstShape;
  std::string Name;          // the method's name
  std::string ProgressText;  // the method's name and a blank
  TWorkerPool* Pool = nullptr;

  // Per frame: its levels, the number of planes measured (0: not yet) and
  // whether it is left out.
  std::vector<TPlaneFigures> FrameLevel;
  std::vector<uint8_t> LevelPlanes;
  std::vector<uint8_t> LeftOut;
  bool ToldTooMany = false;

  // Frames not left out.
  int Combined() const;
  // Leaves frame i out of this and every later band; shows `message` unless empty.
  void LeaveOut(int i, const std::string& message);
  // The levelling of frame i from its measured levels (planes 1..planes).
  TLevelling LevellingOf(int i, int planes) const;
  // Median over all frames of level - first level per plane; a frame left out counts 0.
  TPlaneFigures MedianLevelDifference() const;
  // Progress in the target's window and the batch status window.
  void ShowProgress(int percent) const;
  // Rows per band for frames of this run whose reading needs `reserve` bytes
  // besides the band (the frame being read, the readers' buffers).
  int32_t BandRows(uint64_t reserve) const;
};

// Test seams: false makes every run load its frames into a slot; above 0 every
// band has that many rows whatever the free memory.
extern bool StackFitsRows;
extern int32_t StackBandRowsOverride;

// Results of filling and combining the bands.
enum class TStackBands {
  Done,        // every band combined (or the batch's abort flag ended it)
  TooFew,      // fewer than 3 frames left: nothing more combined
  NoMemory,    // no band memory
};

// Frames loaded into a free slot, band after band.
TStackBands StackBandsFromSlots(TStackRun& run);

// Whether every frame of the run can be read row by row from its FITS file.
bool StackFramesReadAsFits(const TStackRun& run);
// FITS frames: each frame's levels measured once, then for each band only its
// rows read from every file, on all workers.
TStackBands StackBandsFromFits(TStackRun& run);

}  // namespace astrelon
