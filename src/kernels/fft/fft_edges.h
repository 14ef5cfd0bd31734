#pragma once
// Padding an image to transform lengths: the image keeps its top-left place in
// planes of (N + 2) × M, and margins run smoothly from each edge to the local
// mean and back to the opposite edge, so that the padded image continues
// across the cyclic wrap of the transform.
#include <cstdint>
#include <span>

namespace astrelon {

// Copies a w × h plane into the top-left corner of dst ((N + 2) × M values);
// false when it holds a blank pixel (the copy is complete either way).
bool CopyIntoPadded(std::span<const float> src, int32_t w, int32_t h, std::span<float> dst, int32_t N, int32_t M,
                    int threads);
// The margins of a plane copied so: vertical pass over the columns, horizontal
// pass over all M rows, an inner margin of `inner` rows and columns (at most
// w/2 and h/2) blended towards the local mean; columns N and N + 1 become 0.
void PadMargins(std::span<float> dst, int32_t w, int32_t h, int32_t N, int32_t M, int32_t inner, int threads);

// In place on a slot: blank pixels are filled first; FftWidth and FftHeight
// record the size; N = NextGoodFftSize(w + outer, even), M likewise; every
// plane becomes (N + 2) × M. False (slot unchanged) when the slot is not in use,
// has no pixels or no length fits; std::bad_alloc when the planes do not fit in memory.
bool AdaptFftEdges(int slot, int32_t inner, int32_t outer, bool even);

}  // namespace astrelon
