#pragma once
// Baking the display type of a grey image into its data.
namespace astrelon {

// For a grey image whose values lie in 0..65535 (after the display stretch): type
// 7 folds the range four times; type 2 draws the isophote lines into the plane;
// types 3..8 turn the image into RGB planes with the colours of the display type.
// Blank pixels stay blank.
void ApplyPaletteToData(int slot);

}  // namespace astrelon
