#pragma once
// Picking and measuring single stars: a 32 x 32 cutout is copied around an image
// point, the star in it is found, grown into a pixel region and fitted with an
// elliptical Gaussian (centre, background, amplitude, widths, flux).
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "shell/stars/star_cutout.h"

namespace astrelon {

// The side panel's locked star (key L), the comparison star (key M, also used by
// alignment) and the stamp source of the stamp tool.
extern TStarCutout LockedStar;
extern TStarCutout MeasuredStar;
extern TStarCutout PanelCutout;

// Pixels of the last analysed star: 0 not part of it, 1 star pixel used by the
// fit and the flux, 2 star pixel at or above the saturation threshold.
extern std::array<uint8_t, StarCutoutSize * StarCutoutSize> StarMask;

// Photometry settings "Hintergrund" and "Überbelichtung" (-128..127), kept in
// the settings' packed parameters.
extern int32_t& PsfBackgroundOffset;
extern int32_t& PsfOverexposureOffset;

// Cell size a fill gives a cutout: 16 while the side panel's magnification
// button shows "x2", else 32 (set by the side panel).
extern int32_t PanelCellSize;

enum class TStarMode : int32_t { Photometry = 0, Position = 1 };

// Copies the 32 x 32 pixels around (x, y) of the slot (blank outside the image),
// with the value ranges, saturation levels and the channel: the requested one cut
// to the plane count, or by default 2 for a three-plane RGB image, else 1.
void FillStarCutout(int slot, int32_t x, int32_t y, TStarCutout& cutout, int32_t channel);

// A pixel of an image (its column and row).
struct TPeakPixel {
  int32_t X = 0, Y = 0;
};

// Finds and fits the star on the cutout's current pixels. `search` makes the peak
// search climb outward from the centre (nearest local peak) instead of taking the
// brightest pixel.
//
// `peak` (image coordinates) names the star's peak pixel, found beforehand
// (the object a box holds): the star there is fitted, whatever else is
// brighter in the cutout. A peak outside the cutout's search area fits
// nothing (widths 0).
void AnalyseStarCutout(int32_t channel, TStarCutout& cutout, TStarMode mode, bool search,
                       const std::optional<TPeakPixel>& peak = std::nullopt);

// Changes a filled cutout before it is analysed (takes a background or
// neighbouring stars off its pixels).
using TCutoutPreparation = std::function<void(TStarCutout&)>;

// Fills the cutout at (x, y) and, with `analyse`, fits the star, re-centres the
// cutout on it and (photometry) fits again; `peak` as for AnalyseStarCutout;
// `prepare`, when given, runs on every fill before its analysis.
void PickStar(int slot, int32_t x, int32_t y, int32_t channel, TStarCutout& cutout, TStarMode mode, bool analyse,
              bool search, const std::optional<TPeakPixel>& peak = std::nullopt,
              const TCutoutPreparation& prepare = {});

}  // namespace astrelon
