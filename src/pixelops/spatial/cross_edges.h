#pragma once
// Edge image by the 2 × 2 cross difference (the gradient of Roberts' cross).
namespace astrelon {

// For every plane: the valid pixels of `destination` become 0 (blank ones stay
// blank), then each (x, y) with x < width − 1 and y < height − 1 whose four
// source pixels a = (x, y), b = (x + 1, y), c = (x, y + 1), d = (x + 1, y + 1)
// are all valid gets sqrt((a − d)² + (b − c)²). The whole image is used. The
// destination must hold an image of the source's size (the menu passes a copy);
// otherwise nothing happens. Rows run on all cores.
void CrossEdges(int source, int destination);

}  // namespace astrelon
