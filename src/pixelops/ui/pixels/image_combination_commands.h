#pragma once
// Commands that build an image from two or three open images pixel by pixel:
// multiplying by a second image, L+RGB combination (auto-scaled or plain) and
// three grey images into one YUV image.

namespace astrelon {

void RegisterImageCombinationCommands();

}  // namespace astrelon
