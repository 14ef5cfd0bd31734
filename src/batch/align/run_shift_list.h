#pragma once
// The run's shift list: every image combined into the target is recorded with
// its name (and, when aligned on marks, its points and quality) so that the
// stack combination at the end, and a later run through the written ".qvl",
// align the same images.
namespace astrelon {

// Records the current input's name (an image without marks, no loaded list).
void RecordRunFileName();

}  // namespace astrelon
