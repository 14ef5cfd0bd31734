#pragma once
// Background flattening: a slowly varying sky background (gradients, vignetting,
// light pollution) is estimated for each selected plane and taken out of the
// image, keeping stars and nebulae. Two estimators:
//  - MinBlur: an iterated eight-neighbour blur with growing reach whose
//    rejecting steps never spread bright features (the automatic commands);
//  - FlattenBackgroundMasked: a separable running-percentile filter (rows, then
//    columns), each window sample weighted toward the centre value by a Gaussian
//    of the radius, then smoothed by fGauss; a selected rectangle is fitted to
//    the untouched image around it.
#include <cstdint>
#include <span>
#include <string>

#include "kernels/gauss/filter_poll.h"

namespace astrelon {

// One blur step of plane p of `work` into the scratch plane (slot 0, plane p,
// resized to the work plane). Reach |reach| along the axes and the rounded
// reach * sin 45 on the diagonals; the centre weighs (4 wd + 4) * scale. A
// negative reach selects the rejecting step: a pixel below the reference keeps
// weight 1 alone, and only neighbours at or above their reference value count.
// Neighbours outside the image do not count (MinBlurStepPlane).
void MinBlurStep(int reference, int work, int plane, float scale, int32_t reach);

// Background estimate of plane p of `work` (which holds a copy of `reference`)
// written into that plane: a first sweep of reaches 1, 2, 4, 7, 11, ... up to
// |radius| (rejecting when radius < 0), a second plain sweep up to |radius| / 2.
// The first step blurs the reference itself and always runs. The abort flag ends
// the run after the current step. Slot 0 serves as scratch and is freed at the
// end. Progress "Min Blur" in the window of `progressSlot`. False when aborted.
bool MinBlur(int reference, int work, int plane, int32_t radius, int32_t factor, bool progress, int progressSlot);

// The MinBlur radius of the automatic flattening: width div (n * n div 2 + 1).
constexpr int32_t AutoFlattenRadius(int32_t width, int32_t divisor) { return width / (divisor * divisor / 2 + 1); }

// Automatic flattening of every selected plane of `destination` (a copy of
// `source`): the background by MinBlur with radius -(width div (n * n div 2 + 1))
// and fGauss 3.0, then source - background + the background's 35 % level; blank
// source pixels give blank results. n = 3 for nebulae, 5 for star fields.
// False when aborted (the destination is then partly done).
bool FlattenBackgroundAuto(int source, int destination, int32_t divisor, bool progress);

// Flattens the rectangle x1, y1, x2, y2 (clamped into the image, at least 2 x 2)
// of every selected plane of `destination`, which holds a copy of `source` (or
// is the source itself). The window reaches radius pixels (1..167) with a
// sample step that grows with the radius and the rectangle's share of the
// image; `fraction` is the percentile taken (0.25 = the 25 % value).
//  - `backgroundOnly`: the destination keeps the smooth background itself;
//  - `masked` (the mask dialog's mode): `mask` holds one byte per pixel (0 =
//    free; an empty span frees every pixel); masked pixels take no part and are
//    left blank, pixels brighter than the source's 95 % level get a 1.5 times
//    wider window, and the destination keeps the background without the final
//    blur (the dialog finishes the work);
//  - otherwise it gets source - background + the background's 35 % level inside
//    the rectangle, blank or backgroundless pixels keeping the source.
// A rectangle that stops two or more pixels inside the image on some side is
// then fitted at those sides to the image around it, fading into the source.
// Progress under `title` in the window of `progressSlot`; `poll` (optional)
// adds its stop conditions to the abort flag. False when stopped.
bool FlattenBackgroundMasked(int source, int destination, float radius, int32_t x1, int32_t y1, int32_t x2,
                             int32_t y2, bool progress, bool backgroundOnly, bool masked, const std::string& title,
                             int progressSlot, double fraction, TFilterPoll* poll = nullptr,
                             std::span<const uint8_t> mask = {});

// The batch's "Hintergrund ebnen": the whole image of `destination` (a copy of
// `source`) flattened with the radius, the 25 % percentile, no mask, no progress.
bool FlattenBackgroundForBatch(int source, int destination, float radius);

// A result slot made from `slot` (which must be the active image) whose
// working rectangle (the window's selection) is flattened with the radius,
// progress under `title`; then its histogram, the histogram window and its
// rendering. Returns the result slot, or -1 when no slot was free or the run
// was aborted (the result slot is then freed again).
int FlattenBackgroundWithRadius(int slot, float radius, const std::string& title);

}  // namespace astrelon
