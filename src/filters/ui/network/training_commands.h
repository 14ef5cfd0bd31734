#pragma once
// The commands that train a network on the open images and write it to a
// weight file: "Neuronales Netzwerk trainieren" (two-times enlargement,
// ".nnw"), "Universellen Filter trainieren" (".nnf") and "Debayer Filter
// trainieren" (".nnb").
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "filters/training/training_loop.h"

class QAction;

namespace astrelon {

// Asks for the weight file with the open dialog (`filter` as "Name (*.ext)",
// starting in the network folder); a name that does not exist yet is taken
// too (a new network). Empty when cancelled. Tests replace it.
extern std::function<QString(const QString& filter)> ChooseTrainingFile;
// The random generator's seed (from the clock when empty) and the limits of
// the loop; tests set them.
extern std::optional<uint32_t> TrainingSeed;
extern TTrainingLimits TrainingLimits;

void trainNNbp1Click(QAction* sender);
void UniversellenFiltertrainieren1Click(QAction* sender);
void DebayerFiltertrainieren1Click(QAction* sender);

void RegisterTrainingCommands();

}  // namespace astrelon
