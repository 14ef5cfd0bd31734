// Batch steps of the frequency tools, the wavelet filter, the two-times
// enlargement and the network filters.
#include <filesystem>
#include <string>

#include "batch/exec/enlargement_hook.h"
#include "batch/exec/step_copy.h"
#include "batch/exec/step_run.h"
#include "batch/exec/step_values.h"
#include "common/engine_ui.h"
#include "filters/enlargement/upscale_x2_hif.h"
#include "filters/network/network_filter.h"
#include "frequency/filter/curve_file_filter.h"
#include "frequency/interference/interference_filter.h"
#include "frequency/interference/periodic_noise_filter.h"
#include "frequency/wavelet/wavelet_apply.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Operation 31 is the hi-f enlargement with its triangulation stage and the
// final sharpening, at the step's strength.
bool EnlargeHiFTri(int source, int destination, int32_t sharpening) {
  return UpscaleX2HiF(source, destination, true, THiFVariant::Tri, sharpening);
}

}  // namespace

TBatchEnlargement BatchEnlargeX2 = EnlargeHiFTri;

namespace {

std::string Trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

bool FileExists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && std::filesystem::is_regular_file(std::filesystem::path(name), ec);
}

void ClearAbort() {
  AbortRequested = 0;
  FilterAbortRequested = 0;
}

// "Fehler: " and the name, with the reason on the next line when there is one.
void ShowFileError(const TStepRun& run, const std::string& why) {
  ShowStepError(run.Op);
  if (!why.empty()) EngineUi().ShowMessage(why);
}

// "Automatischer Störfilter": "2" the 2D periodic-noise filter, whose result
// replaces the work image; anything else the 1D interference filter.
void Interference(const TStepRun& run) {
  ClearAbort();
  if (Trimmed(run.Value(1)) == "2") {
    const int result = FilterPeriodicNoiseFft(run.Work, StoredPeriodicNoiseK());
    if (result >= 1) ReplaceWorkImage(run.Work, result);
    return;
  }
  const TStepCopy copy(run);
  if (!copy) return;
  RemoveInterference1D(copy.Slot(), run.Work);
}

void Enlarge(const TStepRun& run) {
  const int32_t sharpening = StepInt(run.Value(1));
  const TStepCopy copy(run);
  if (!copy) return;
  ClearAbort();
  if (!BatchEnlargeX2 || !BatchEnlargeX2(copy.Slot(), run.Work, sharpening)) {
    ShowStepError(run.Op);
    return;
  }
  UpdateMinMax(run.Work);
}

// "Universeller NN-Filter": the network of value 1 at the strength of value 2.
void NetworkFilter(const TStepRun& run) {
  const std::string& file = run.Value(1);
  const double strength = StepFloat(run.Value(2));
  if (run.Free < 1 || !FileExists(file)) {
    ShowStepError(run.Op);
    return;
  }
  UpdateMinMax(run.Work);  // the filter scales by the source's value range
  const TStepCopy copy(run);
  if (!copy) {
    ShowStepError(run.Op);
    return;
  }
  ClearAbort();
  if (ApplyNetworkFilter(copy.Slot(), run.Work, file, WholeImageRect(run.Work), strength)) UpdateMinMax(run.Work);
}

void Wavelet(const TStepRun& run) {
  std::string why;
  const TWaveletRun r = ApplyWaveletFilter(run.Work, run.Work, run.Value(1), &why);
  if (r == TWaveletRun::Missing || r == TWaveletRun::Refused) ShowFileError(run, why);
  UpdateMinMax(run.Work);
}

void FrequencyCurve(const TStepRun& run) {
  std::string why;
  ClearAbort();
  if (!ApplyFrequencyCurveFile(run.Work, run.Value(1), &why)) {
    ShowFileError(run, why);
    return;
  }
  UpdateMinMax(run.Work);
}

}  // namespace

bool RunFrequencyStep(const TStepRun& run) {
  switch (run.Op) {
    case 28: Interference(run); return true;
    case 31: Enlarge(run); return true;
    case 32: NetworkFilter(run); return true;
    case 41: Wavelet(run); return true;
    case 42: FrequencyCurve(run); return true;
    default: return false;
  }
}

}  // namespace astrelon
