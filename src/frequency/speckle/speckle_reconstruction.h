#pragma once
// The speckle reconstruction: from the accumulated spectra of the frames to
// one spectrum, layer by layer (noise taken off the accumulators, the power of
// every frequency from triples of vectors, the phases walked outward from the
// zero frequency), then multiplied by the atmosphere's response.
#include <cstdint>
#include <functional>
#include <string>

#include "frequency/speckle/speckle_response.h"

namespace astrelon {

class TSpeckleSession;

struct TSpeckleReconstructionSettings {
  int32_t MaxSteps = 1;          // "Max Schrittanzahl (0=Autokorr.):"
  bool NoiseCorrection = false;  // "-Rausch"
  double MaxRadius = 4.5;        // "Max Radius:"
  TSpeckleResponse Response;     // "Max Auflösung (Pixel):", "D/r0:" (clamped)
};

struct TSpeckleReconstructionHooks {
  // After the set-up: the path length and the power radius as used.
  std::function<void(int32_t maxSteps, double radius)> SetUp;
  // Status texts ("Reconstruction", "Reconstruct Power 12%", ...).
  std::function<void(const std::string& text)> Status;
};

enum class TSpeckleOutcome { NotRun, Aborted, Done };

// The longest phase path worth searching: round(6 − ½·log2(P·n²·1e-5·layers))
// within 2..6, P the values of a spectrum plane and n the regular vectors.
int32_t SpeckleStepLimit(int64_t planeValues, int32_t regular, int32_t layers);

// Reconstructs the session's result spectrum from its accumulators (with
// recompute after a new accumulation; without it again from the accumulators
// already converted), keeps the unweighted spectrum in the kept slot and
// writes the response-weighted one into the result spectrum. Nothing happens
// (NotRun) unless data are present and the result spectrum exists. Aborted:
// the kept spectrum is unchanged. In recompute mode the result image is
// forgotten so that the next one is new.
TSpeckleOutcome SpeckleRekonstruktion(TSpeckleSession& session, bool recompute,
                                      const TSpeckleReconstructionSettings& settings,
                                      const TSpeckleReconstructionHooks& hooks = {});

}  // namespace astrelon
