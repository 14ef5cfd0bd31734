#pragma once
// Menu commands that join three grey images into RGB, split a colour image into
// three grey images, move one image onto another's grid and make a Gaussian PSF
// image; the choice of the star that serves as PSF.
class QAction;

namespace astrelon {

void N3swBilderzuRGB1Click(QAction* sender);
void RGBzu3swBilder1Click(QAction* sender);
void Bildabbilden1Click(QAction* sender);
void PSFbildmitgauverteilunggenerieren1Click(QAction* sender);

// Cuts the PSF from the star marked or selected in the slot's window, else in
// the window the user chooses; true when a cutout was made. Without one it says
// so and returns false.
bool PickPsfSourceImage(int slot);

void RegisterChannelCommands();

}  // namespace astrelon
