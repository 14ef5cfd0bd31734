#pragma once
// Star matching of multi-star alignment: the marked stars of the current image
// are measured, paired with the marks of the reference (an open image window,
// or the stored reference positions), measured again against their partners
// and fitted by a similarity transform; the frame weight follows the spread of
// the measurements and of the fit's residuals.
#include <cstdint>

namespace astrelon {

struct TStarMatchOptions {
  bool CrossCorrelation = false;  // marks are areas matched by correlation, else stars found by their centroid
  bool IsMosaic = false;          // the images are undebayered colour mosaics (Bayer-special)
  double BrightnessRatio = -1.0;  // contrast factor handed to the correlation (-1: measured)
};

enum class TStarMatchResult {
  NoMarks,  // one side had no marks: nothing was done
  Matched,  // the pair index, GlobalFit and the frame weight are set
};

// What star matching keeps from frame to frame of a run.
struct TStarMatchRun {
  float PrevA = 1, PrevB = 0;                     // the candidate rotation and scale accepted with the last frame
  float CandA = 1, CandB = 0;                     // the candidate found for the current frame
  double ResidualMean = 0, ResidualVariance = 0;  // of the current frame's fit
  double ResidualSum = 0, ResidualCount = 0;      // over the accepted frames
};
extern TStarMatchRun StarMatchRun;

// A new run: candidates a = 1, b = 0, sums and counts 0, the global fit the
// identity, no marks remembered, the frame weights' running level cleared.
void ResetStarMatching();

// The current frame was accepted (not the reference itself): its residual
// variance + 0.3 enters the run's residual level, and its candidate becomes
// the one the next frame is compared with.
void AcceptMatchedFrame();

// Matches the first n marks of `window` (the current image) with the first m
// marks of `reference` (an open window, else the stored reference positions):
// 1. unmeasured marks of both windows are measured in their boxes (placed at
//    the box centre when correlating, else found by their star centroid above
//    the image's noise + 0.001);
// 2. one image: each mark is its own partner; else the anchor (the current
//    mark farthest from the centroid, at least 1 pixel away) is tried against
//    every reference mark; the rotation and scale that take that mark onto the
//    anchor pair every mark with its nearest transformed reference mark, and
//    the candidate with the least sum of squared distances (plus a penalty for
//    departing from the last frame's candidate) sets the pair index;
// 3. unless the stars of one image are matched by centroid, every current mark
//    is measured again with its partner's box (by correlation against the
//    reference, whose qualities make the frame weight, or by star centroid);
// 4. the fit, its residual spread (which lowers the weight when it exceeds
//    three times the run's level) and the marks of both windows moved onto
//    their measured positions.
// GlobalFit then maps the current image onto the reference.
TStarMatchResult SterneZuordnen(int window, int reference, int n, int m, const TStarMatchOptions& options,
                                float& frameWeight);

}  // namespace astrelon
