#pragma once
// The menu command "Iteratives &PSF-schärfen": the star that serves as PSF is
// picked before the filter dialog opens for "PSF schärfen".
class QAction;

namespace astrelon {

// Makes the result slot and its window, picks the PSF (asking which image
// supplies it when the active one marks no star) and shows the dialog with the
// side panel in its PSF mode. Without a PSF the result window closes and the
// dialog stays hidden; the item goes into "Letzte Funktionen" either way.
void IterativesPSFschrfennichtlinear1Click(QAction* sender);

}  // namespace astrelon
