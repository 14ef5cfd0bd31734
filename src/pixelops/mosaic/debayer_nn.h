#pragma once
// "Bayer, Neuronales Netzwerk": a trained debayer network predicts the missing
// colours of every red and blue site from its 7 x 7 neighbourhood.
#include <string>

#include "pixelops/mosaic/mosaic_interpolation_stage.h"

namespace astrelon {

// Runs the network of `networkFile` over the interior of `destination` (three
// planes after the border pass) from the mosaic in plane 1 of `source`: rows 3
// .. height - 4, the red and blue sites from column 3 or 4 up to width - 4. A
// file that cannot be loaded leaves the destination as it was (with a message);
// the abort flag stops after the current row. False when the network was not
// run.
bool DebayerNN(int source, int destination, const std::string& networkFile);

// The same with the network in memory (a debayer training's result image).
bool DebayerNNLoaded(int source, int destination);

// The stage routine of the method: border pass with margin 4, then DebayerNN.
bool InterpolateMosaicByNetwork(const TMosaicStage& stage);

}  // namespace astrelon
