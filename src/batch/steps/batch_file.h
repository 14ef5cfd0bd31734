#pragma once
// Batch files ".qzb": the untranslated batch text, then, when known, the comet
// motion ("VDiffBerechnet" and four numbers: X and Y per minute, X and Y per
// frame), then, when the input list is used, "Eingangsliste" and one input
// file per line, then an empty line. UTF-8, lines ended by CR LF.
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace astrelon {

// What a batch file holds.
struct TBatchFile {
  std::vector<std::string> Lines;  // the untranslated batch text
  bool CometValuesSet = false;
  std::array<double, 4> Comet{};   // per minute X, Y; per frame X, Y
  std::vector<std::string> InputFiles;
};

// The file's text.
std::string BatchFileText(const TBatchFile& file);
// Reads decoded text: lines, comet block (kept only with four numbers) and
// input list (up to the first empty line); every other line is batch text.
TBatchFile ParseBatchFile(std::string_view text);

// Writes the current batch (the text rewritten from the steps, the comet
// values when set, the drop list when the input list is used) through the
// atomic writer. Nothing is written while the batch has no step. False, with a
// message, when the file cannot be written.
bool SaveBatchFile(const std::string& path);
// Reads a batch file (UTF-8, else Windows-1252) into the batch: the comet
// values, input list, "nach Timestamp" and shift-list choices are cleared
// first, then the file's text is parsed into the steps (BatchTextLesen). A file
// that cannot be read gives a message and changes nothing.
bool LoadBatchFile(const std::string& path);

}  // namespace astrelon
