#pragma once
// Shift lists (".qvl"): for every image of an aligned run its file name, its
// star pairs and the quality of its alignment, so that a later run aligns the
// same images without marking them again. Plain text, lines ended by CR LF:
// the image count, the marks mode (1, 2 or 3 = multipoint), then per image the
// name, in mode 3 the pair count, two coordinate lines per star (x, then y:
// the first frame's value and this image's) and the quality. Numbers are
// written in exponent format with 14 digits, the first of a line padded to 22
// characters.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/batch_series.h"

namespace astrelon {

// Most star pairs an image of a multipoint list may hold (the marks an image
// window holds).
constexpr int32_t MaxShiftListPairs = 256;
// Largest quality a list may hold, either sign.
constexpr double MaxShiftListQuality = 1e6;

struct TShiftListFile {
  int32_t Mode = 1;  // marks per image: 1, 2, or 3 for multipoint
  std::vector<std::string> Names;
  std::vector<TStarPair> StarPairs;               // modes 1 and 2, one per image
  std::vector<std::vector<TMarkPair>> MarkPairs;  // mode 3, one list per image
  std::vector<float> Qualities;                   // one per image
  int32_t Count() const { return int32_t(Names.size()); }
};

// A coordinate line: the two numbers in exponent format with 14 digits, the
// first padded with blanks to 22 characters.
std::string CoordinateLine(double a, double b);

// "VList_" + mode + "Stars_" + count + "files.qvl" in the folder (ending in "/").
std::string ShiftListFileName(const std::string& startFolder, int32_t mode, int32_t count);

// The text of the list; false (with a message) when a name holds a line break.
bool FormatShiftList(const TShiftListFile& list, std::string& text, std::string& error);
// Reads a list; false with a message, `list` unchanged, when the text is not one.
bool ParseShiftList(std::string_view text, TShiftListFile& list, std::string& error);

// Writes the list under `fileName` or, when a file of that name exists, under
// the first of its numbered copy names that is free: an existing list is never
// overwritten. The name written, or "" with a message in `error`.
std::string VerschiebungslisteSpeichern(const std::string& fileName, const TShiftListFile& list, std::string& error);
// Reads a list file; false with a message, `list` unchanged, on any fault.
bool ReadShiftListFile(const std::string& path, TShiftListFile& list, std::string& error);

// The run's list: its names, records and qualities (SeriesFileList,
// BatchStarPairs or BatchMarkPairs, BatchQualities) in the given mode; missing
// records are zero.
TShiftListFile RunShiftList(int32_t mode);
// Makes a list the run's names, records and qualities.
void InstallRunShiftList(const TShiftListFile& list);
// Correlation runs: the reference (first) image, measured against itself,
// gets 1.01 times the second image's quality.
void RaiseReferenceQuality(TShiftListFile& list);

}  // namespace astrelon
