#pragma once
// The hi-f two-times enlargements of the "Bildgeometrie" menu: "Bildgröße x2
// hi-f tri", "Bildgröße x2 hi-f sinc" and "Bildgröße x2 hi-f tri
// Backpropagation", each asking for the strength of the artificial sharpening.
class QAction;

namespace astrelon {

void Bildgrex2smart31Click(QAction* sender);
void Bildgrex2hiffine1Click(QAction* sender);
// The tri enlargement, then the error of its reduction back to the source
// size enlarged likewise and subtracted, soft-thresholded by half the noise.
void Bildgrex2hiftriBackpropagation1Click(QAction* sender);

void RegisterHiFEnlargementCommands();

}  // namespace astrelon
