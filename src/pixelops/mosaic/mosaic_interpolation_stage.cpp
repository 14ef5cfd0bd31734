#include "pixelops/mosaic/mosaic_interpolation_stage.h"

#include "pixelops/mosaic/debayer_nn.h"
#include "pixelops/mosaic/mosaic_interpolation.h"

namespace astrelon {

std::array<TMosaicStageRoutine, DemosaicMethodCount>& MosaicStageRoutines() {
  // Entry per method: 0 "Lineare Interpolation", 1 "V.N.G.", 2 (the half size
  // is done by the conversion), 3 "modified Kimmel", 4 "astro", 5 the network.
  static std::array<TMosaicStageRoutine, DemosaicMethodCount> routines{
      InterpolateMosaicOnWorkers, InterpolateMosaicOnWorkers, nullptr,
      InterpolateMosaicOnWorkers, InterpolateMosaicOnWorkers, InterpolateMosaicByNetwork};
  return routines;
}

bool RunMosaicStage(const TMosaicStage& stage) {
  if (stage.Method < 0 || stage.Method >= DemosaicMethodCount || stage.Method == DmHalfSize) return false;
  const TMosaicStageRoutine routine = MosaicStageRoutines()[size_t(stage.Method)];
  return routine && routine(stage);
}

bool MosaicMethodAvailable(int32_t method) {
  if (method == DmHalfSize) return true;
  return method >= 0 && method < DemosaicMethodCount && MosaicStageRoutines()[size_t(method)] != nullptr;
}

}  // namespace astrelon
