#pragma once
// The inputs of a batch run: the candidate list (an explicit input list, or
// every image file of the start file's folder), the next input of a numbered
// series, a list or a video, and the run's name array (SeriesFileList) that
// the stack combination and the shift list read.
#include <cstdint>
#include <string>
#include <vector>

#include "registration/stacking/combine_image_stack.h"

namespace astrelon {

// Most names the run's name array holds (what one stack combination takes).
constexpr int32_t MaxRunFiles = MaxStackFrames;
// Most names a numbered series is counted on in search of the next file.
constexpr int32_t SeriesTries = 250;

struct TSeriesFileList {
  std::vector<std::string> Candidates;  // input list entries (full names) or folder entries (names only)
  int32_t LeftOut = 0;                  // names the run's name array had no room for
};
extern TSeriesFileList SeriesFiles;

enum class TInputMode {
  Series,    // numbered files counted up from the start file
  List,      // the explicit input list, full names
  AllFiles,  // every image file of the start file's folder, names in that folder
  Video,     // the frames of a video, named "Frame0000", "Frame0001", ...
};

struct TInputSeries {
  TInputMode Mode = TInputMode::Series;
  bool SkipMissing = false;   // "Fehlende Dateien der Serie überspringen"
  int32_t VideoFrames = 0;    // frames of the video
  std::string StartFolder;    // folder of the start file, ending in "/"
  bool UseShiftList = false;  // only inputs named in the loaded shift list (SeriesFileList) are taken
};

// Empties the run's name array and its per-image records and LeftOut.
void ClearRunFiles();
// Appends a name to the run's name array; false (and LeftOut counted up) when it is full.
bool AddRunFileName(const std::string& name);
// Whether the name is in the run's name array (compared without regard to
// case), and its index.
bool FindRunFileIndex(const std::string& name, int32_t& index);

// Input-list mode: trims blanks around the start file name (stored back) and
// makes the candidate list of the entries of the input list that differ from
// it (without regard to case), in list order.
void BuildInputFileList(std::string& startFile, const std::vector<std::string>& inputList);
// All-files mode: the candidate list of the files in the start file's folder
// other than the start and the target file whose extension is an image
// extension of the open dialog, sorted by name without regard to case.
void BuildAllFilesList(const std::string& startFile, const std::string& targetFile);

// The video frame name of an index: "Frame" and at least four digits.
std::string VideoFrameName(int32_t index);

// The next input after `name`: list modes take the candidate at `position`
// (which advances), a video the frame after `frame` (which advances) while
// frames remain, a series the next existing file counted up from `name` (a
// missing file ends the series unless missing files are skipped; at most
// SeriesTries names are tried). With a shift list, inputs it does not name are
// passed over (in a series without using up tries). True and the name in
// `name`; false and an empty name when no input follows.
bool NextInputFileName(const TInputSeries& input, int32_t& position, int32_t& frame, std::string& name);

}  // namespace astrelon
