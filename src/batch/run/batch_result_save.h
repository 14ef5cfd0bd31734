#pragma once
// Saving the images a batch makes: the name of each result by the target's
// naming rule, the overwrite question, and the writer chosen by the target's
// extension (BMP, JPEG, TIFF, PNG, else FITS).
#include <cstdint>
#include <string>

namespace astrelon {

// What a result's name is made of.
struct TResultNaming {
  std::string TargetName;    // the target file name without folder
  std::string TargetExt;     // the first four characters of its upper-case extension
  std::string TargetFolder;  // ends in "/"
  std::string FitsExtension; // the "Fits Dateiendung" setting
};

// The name of result `count` (already counted, from 1) of the input: a target
// name with a base before its extension (not ending in '*') gives base + "_" +
// the count in at least four digits + TargetExt; otherwise "QZ_" + the input
// file name (a video frame keeps its name). The extension becomes TargetExt
// when it has more than two characters, else the FITS extension; the folder
// becomes the target folder.
std::string ResultFileName(const TResultNaming& naming, const std::string& inputFile, int32_t count, bool videoFrame);
// The same extension rule for a name made elsewhere.
std::string WithResultExtension(const TResultNaming& naming, const std::string& name);
// The run's naming (from TBatchRunState and the settings).
TResultNaming RunResultNaming();

// Writes the slot by the extension: ".BMP", ".JPG"/".JPE" and ".PNG" rendered
// at the factor 255 / maximum, ".TIF" as TIFF, anything else as FITS without
// display cards (a result is shown from its own values when it is read, not by
// the range of the frame it was made from). False when it failed ("Fehler beim
// Abspeichern der Datei" and the name are shown).
bool WriteSlotByExtension(int slot, const std::string& fileName, const std::string& targetExt);

// Writes the run's target or an accumulation as FITS without display cards
// ("Datei speichern", the mean CCD temperature of the run, the recent files)
// under `name` or, when a file has that name and `mayReplace` is false, under
// its first free numbered copy name: a run never replaces an earlier result it
// was not told to. The name written, or "" after "Fehler beim Abspeichern der
// Datei" and the name.
std::string WriteRunImage(int slot, const std::string& name, bool mayReplace);

enum class TResultSave { Written, Failed, Skipped, Cancelled };
// Saves the slot as a result under the name: an existing file is overwritten
// only after "Ja" (which holds for the rest of the run); "Nein" skips it and
// "Abbrechen" ends the run (EndOfRun). "Datei speichern" shows while writing.
TResultSave SaveBatchResultFile(int slot, const std::string& fileName);

// The work image saved as the result of the current input.
void SaveWorkResult();

}  // namespace astrelon
