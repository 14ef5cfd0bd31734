#pragma once
// Loading a shift list for a run, optionally keeping only the images of best
// quality: the user gives the percentage of images to keep, and a quality
// threshold is searched in steps of 0.1, then 0.001, then 0.00001 so that
// about that many images lie above it.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "batch/inputs/shift_list_file.h"

namespace astrelon {

// The threshold for keeping `target` (1 .. count) of the qualities: from 0.5
// raised by 0.1 while at least `target` qualities lie above it, lowered by
// 0.001 while fewer do, raised by 0.00001 while more do and the raise leaves
// at least `target` above it (images tied at the threshold stay above it).
double ShiftListThreshold(std::span<const float> qualities, int32_t target);

// Keeps the images whose quality lies above the threshold for the percentage
// `answer` (a number above 0 and below 100, "," or "." as decimal separator;
// anything else keeps every image): at least the share, with every image tied
// with the last one kept. When nothing could be selected the list stays whole
// and `noneSelected` is set. True when the first image (the list's reference)
// was dropped.
bool SelectBestImages(TShiftListFile& list, std::string_view answer, bool* noneSelected = nullptr);
// The message of a selection that kept the whole list of `count` images.
std::string NoneSelectedText(int32_t count);

struct TShiftListLoad {
  bool Loaded = false;
  int32_t Mode = 0;   // marks mode of the list (1, 2, 3)
  int32_t Count = 0;  // images kept
  bool ReferenceDropped = false;
};

// Reads the list file (a fault shows a message and loads nothing), asks for
// the percentage to keep when it has more than two images ("Wieviele Bilder",
// "...sollen verwendet werden? (Prozentangabe!)", default "100"; a selection
// that finds nothing says so and keeps every image) and makes the kept images
// the run's names, records and qualities.
TShiftListLoad LoadShiftList(const std::string& path);

}  // namespace astrelon
