#pragma once
// The files of operations 11 and 12 (a dark, a flat) that a run keeps loaded
// in a slot of their step for the following images while memory allows; one
// that cannot be loaded is reported once and its step skipped for the rest of
// the run.
#include <cstdint>
#include <string>

namespace astrelon {

// The file loaded into the lowest free slot; -1 when no slot is free, or when
// it cannot be read (after the three-line message).
int LoadStepFile(const std::string& fileName);

// The slot that holds step `step`'s file for this image: its kept slot while
// that is in use, else the file loaded into a free slot. -1 when there is no
// free slot, or when the file failed now (after the three-line message) or
// earlier in the run.
int StepFileSlot(int32_t step, const std::string& fileName);
// After the step's work: the file stays for the next images when the memory
// test allows it; otherwise it is closed and loaded again for every image.
void KeepOrReleaseStepFile(int32_t step, int slot);
// Closes every kept file of the run (its end).
void CloseKeptStepFiles();

}  // namespace astrelon
