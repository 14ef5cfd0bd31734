#pragma once
// Two-times enlargement by a small network that learns from the image itself
// while it works: the grey work image is halved, the network learns to predict
// each 2 x 2 block of the work image from the 5 x 5 window (without corners)
// of the half-size image centred on the half pixel made from that block, and
// the result is written block by block along an inward spiral over the work
// image, each block from the window centred on its pixel, the network training
// on nearby blocks as it goes. The network is the 21-input one without a second layer; it replaces
// the network in memory. No weight file is read or written.
#include <cstdint>
#include <functional>
#include <random>

#include "store/image_slot.h"

namespace astrelon {

struct TAutoscanSettings {
  int32_t Quality = 2;   // "Qualitätseingabe: (1-10)"
  int32_t Neurons = 21;  // "Neuronenanzahl: (10-50)", 10..100
  int32_t ScanBox = 45;  // "Scan-Boxgröße: (10-300)"
  // False: the network does not learn and its outputs stay 0, so that the
  // result is the network's bilinear base alone (for comparison).
  bool Train = true;
  // False: the network's result stays even where its base did better on the
  // pairs it learnt from (for comparison).
  bool KeepBaseWhenWorse = true;
};
// Quality 1..10, neurons 10..100, scan box 10..300.
TAutoscanSettings ClampAutoscanSettings(TAutoscanSettings s);

// A grey image of its own (the work image or its half-size copy).
struct TGreyImage {
  TPlane Values;
  int32_t Width = 0, Height = 0;
  float At(int32_t x, int32_t y) const { return Values[size_t(y) * size_t(Width) + size_t(x)]; }
};

// One run's images and scales: values enter the network as (v - Mid) / S.
struct TAutoscanImages {
  TGreyImage Work, Half;
  float Low = 0, High = 0;  // the work image's range
  float Mid = 0, S = 0;
  double Spread = 0;  // the spread accumulator
  int32_t Neurons = 21;
};

// The work image of a slot (its grey copy when in colour) with its range;
// false when it has no valid pixel or is flat (nothing to learn from).
bool MakeAutoscanWorkImage(int slot, TAutoscanImages& images);
// The half-size image: the work image reduced by 2 in both directions by block
// means. It stands to the work image as the work image to the result, so the
// network learns from it what the scan applies; it is not sharpened (a
// sharpened copy teaches the network to over-sharpen, and the result fell
// below the network's own bilinear base).
void MakeAutoscanHalfImage(TAutoscanImages& images);

// The 21 network inputs (Network's own record) from the window of `image`
// whose top-left corner is (x, y): (v - Mid) / S, where a position outside the
// image or a blank pixel takes the window's centre pixel clamped into the image
// (Mid when that is blank too). The window's largest minus smallest value plus
// S / 4 is added to the spread accumulator.
void AutoscanInputs(const TGreyImage& image, int32_t x, int32_t y, TAutoscanImages& images);
// One training step after AutoscanInputs: the forward pass, the targets the
// four work-image pixels (x, y), (x + 1, y), (x, y + 1), (x + 1, y + 1)
// normalised likewise (clamped into the image), and the step.
void AutoscanTrainStep(int32_t x, int32_t y, TAutoscanImages& images);

// Progress: the stage (false the initial training, true the scan) and its
// percent; false stops the run. Called in every pass.
using TAutoscanPoll = std::function<bool(bool scanning, int percent)>;

// Done: the network's enlargement. KeptBase: the network did worse on the
// pairs it learnt from (half-size image to work image) than its own bilinear
// base, and each plane of the result is that base of the plane.
enum class TAutoscanEnd { Done, KeptBase, Flat, Aborted };

// The status text of a run that kept the bilinear base.
constexpr const char* AutoscanBaseKept =
    "Netzwerk schlechter als bilineare Vergrößerung: bilineare Vergrößerung übernommen";

// The seed of the menu command: the same image and settings give the same result.
constexpr uint64_t AutoscanDefaultSeed = 1;

// Enlarges `source` into `destination` (a copy of the source on entry), which
// becomes twice as wide and high. The random positions and the network's
// start come from `seed` (one seed, one result). While the scan writes a
// block, the network as it is then also predicts the block of the work image
// from the half-size window that this block was halved into, and so does the
// bilinear base it adds its outputs to: when the network's summed squared
// error over these pairs is the larger, every plane the network writes becomes
// that base of its own values on the same grid, its own bilinear enlargement
// (in grey the untrained run's result; a constant plane stays constant, a
// plane without a valid pixel blank), and the status says so (KeptBase).
// Clears the abort flag first; a raised flag or a poll that says no stops the
// run (Aborted). A flat source changes nothing (Flat).
// Throws std::bad_alloc, before anything changes, when the result and the
// work images do not fit in the free memory.
TAutoscanEnd UpscaleX2Autoscan(int source, int destination, TAutoscanSettings settings, uint64_t seed,
                               const TAutoscanPoll& poll = {});

}  // namespace astrelon
