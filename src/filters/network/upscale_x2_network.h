#pragma once
// Two-times enlargement by a trained network: every source pixel becomes the
// 2 x 2 block that the network predicts from its neighbourhood.
#include <string>

#include "filters/network/network_rows.h"
#include "kernels/network/network_weights.h"
#include "store/image_slot.h"

namespace astrelon {

// Reads the two-times network file (".nnw") into the network in memory and
// enlarges `source` into `destination` (a copy of the source on entry), which
// gets twice the width and height. Each pixel c of each plane: the inputs
// (neighbour - c) / s with s half the source's value range (clipped for
// networks with a second layer), the four outputs y give c + y * s, none below
// the source's minimum; a blank pixel gives its block at the minimum, and a
// flat source (s = 0) its pixel four times. The abort flag is cleared first
// and stops the rows; `poll`, when given, is asked after the calling thread's
// rows. A file that cannot be read leaves the network loaded before and the
// destination as it was (with the reader's message). True when the whole
// image was enlarged. Throws std::bad_alloc, before the file is read, when the
// result does not fit in the free memory (enlargement_memory.h).
bool UpscaleX2Network(int source, int destination, const std::string& fileName, const TNetworkRowPoll& poll = {});

// Row y of plane p of the enlargement with the network in memory: the four
// result pixels of every pixel of the row into rows 2y and 2y + 1 of `dst`
// (twice the size of `src`), with `scale` as s.
void EnlargeNetworkRow(const TImageSlot& src, TImageSlot& dst, int p, int32_t y, double scale, TNetworkPass& pass);

}  // namespace astrelon
