#pragma once
// Main-window commands that join a second image to the active one: the mosaic
// of two images and the merge of a long and a short exposure.

namespace astrelon {

void RegisterImageMergeCommands();

}  // namespace astrelon
