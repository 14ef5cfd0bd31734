#pragma once
// The free-memory check of the two-times enlargements, asked before their
// first plane is made: an enlargement that does not fit is refused with the
// source and the destination as they were, rather than letting the system end
// the program when the memory runs out.
namespace astrelon {

// Throws std::bad_alloc (which the commands and the batch report as "Nicht
// genug Speicher") unless the result's planes of twice the width and height of
// `source` and `workPlanes` working planes of the source's size beside them
// fit in the free memory (NewPlanesFit).
void RequireX2EnlargementMemory(int source, int workPlanes);

}  // namespace astrelon
