#include "batch/align/prompt_texts.h"

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_captions.h"
#include "core/settings.h"

namespace astrelon {

TMarkKind RunMarkKind() {
  if (BatchRun.CentroidMode) return TMarkKind::Planet;
  return Settings.ShiftMode == 1 ? TMarkKind::Areas : TMarkKind::Stars;
}

std::string FirstImagePrompt(int32_t marks, TMarkKind kind) {
  TBatchCaption c;
  if (marks > 2)
    c = kind == TMarkKind::Stars ? TBatchCaption::MarkThreeStars : TBatchCaption::MarkThreeAreas;
  else if (kind == TMarkKind::Planet)
    c = TBatchCaption::MarkPlanet;
  else if (kind == TMarkKind::Areas)
    c = marks == 2 ? TBatchCaption::MarkTwoAreas : TBatchCaption::MarkOneArea;
  else
    c = marks == 2 ? TBatchCaption::MarkTwoStars : TBatchCaption::MarkOneStar;
  return BatchCaption(c) + BatchCaption(TBatchCaption::MarkSuffix);
}

std::string DirectMarkPrompt(int32_t marks) {
  return BatchCaption(marks >= 2 ? TBatchCaption::MarkTheTwoStars : TBatchCaption::MarkTheStar) +
         BatchCaption(TBatchCaption::MarkSuffix);
}

std::string ConfirmPrompt(int32_t marks, TMarkKind kind) {
  TBatchCaption c;
  if (marks >= 2)
    c = kind == TMarkKind::Stars ? TBatchCaption::StarsRight : TBatchCaption::AreasRight;
  else if (kind == TMarkKind::Planet)
    c = TBatchCaption::PlanetRight;
  else
    c = kind == TMarkKind::Areas ? TBatchCaption::AreaRight : TBatchCaption::StarRight;
  return BatchCaption(c) + BatchCaption(TBatchCaption::ConfirmSuffix);
}

std::string CometPrompt() { return BatchCaption(TBatchCaption::MarkComet); }

}  // namespace astrelon
