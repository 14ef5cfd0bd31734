#pragma once
// Calibration masters from lists of frame files: the master dark (mean or stack
// combination, with the mean CCD temperature and the dark noise), the flat-dark
// (kept in memory only) and the master flat with the flat-dark subtracted.
#include <string>
#include <vector>

#include "registration/stacking/combine_image_stack.h"

namespace astrelon {

// What the master and multifocus workers show and ask while they run. The
// dialog shows the batch status window; without an override nothing is shown
// and the overwrite question is confirmed.
class TMasterProgress {
public:
  virtual ~TMasterProgress() = default;
  // The work starts: the status window with this title and its abort button.
  virtual void Start(const std::string& title) {}
  virtual void SetTitle(const std::string& title) {}
  // The work ended: final title, progress label cleared, button "&Ok".
  virtual void Finish(const std::string& title) {}
  // The run's last word before Finish: what it wrote where (MasterWrittenText).
  virtual void Report(const std::string& text) {}
  // An existing target: `name` is offered for editing; true writes it (under the
  // name as edited).
  virtual bool ConfirmOverwrite(const std::string& caption, const std::string& prompt, std::string& name) {
    return true;
  }
};

// What a run wrote: "Geschrieben:" and each file's full name on a line of its
// own, or "Es wurde keine Datei geschrieben."
std::string MasterWrittenText(const std::vector<std::string>& written);
// The title a run ends with: "Bearbeitung abgebrochen" after an abort, else
// "Bearbeitung fertig" when a file was written and "Bearbeitung fertig, nichts
// geschrieben" when none was (an overwrite declined, say).
std::string MasterEndTitle(bool aborted, bool wroteAny);

// One list of the dialog: its files (full names), method and target name.
struct TMasterList {
  std::vector<std::string> Files;
  TStackMethod Method = TStackMethod::Mean;
  std::string FileName;  // darks and flats; the flat-dark has none
};

struct TMasterJob {
  TMasterList Darks, Flats, FlatDarks;
};

// The message that refuses a list longer than the stack combination takes;
// empty when every list fits.
std::string MasterListTooLongText(const std::vector<const std::vector<std::string>*>& lists);

// Free slots a run of the job needs at the most at one time.
int MasterSlotsNeeded(const TMasterJob& job);

// Builds the master dark (at least 2 darks), the flat-dark and the master flat
// (at least 2 flats) and writes the masters as FITS files. The names of the job
// take the FITS extension and any name edited in the overwrite question. False
// when nothing ran (too few files, a list too long; the message was shown).
// Without the free slots the run needs, it says so once, writes nothing and
// ends "Bearbeitung abgebrochen". A run that started reports what it wrote and
// ends with MasterEndTitle.
bool BuildMasterFrames(TMasterJob& job, TMasterProgress& progress);

// The mean of the frames into `target` (a free slot): each file is loaded (one
// that cannot be loaded is skipped, one whose width, height or plane count
// differs from the first frame's is named and left out), the flat-dark slot's
// value subtracted when flatDark > 0, and every pixel divided by the number of
// frames valid there (pixels valid in none stay 0). With `temperature` every
// "CCD-TEMP" above -300 goes into the temperature sum. With `darkNoise` the
// noise of the first file minus the second goes there (0 when either cannot be
// loaded or the difference shows none). FITS frames after the first are read
// row by row straight from their files (MeanOfFitsRows), with the same result.
// Returns the number of frames used; 0 leaves the target free, as does the
// batch's abort flag.
int MeanOfFrames(int target, const std::vector<std::string>& files, int flatDark, bool temperature,
                 double* darkNoise = nullptr);

// Test seam: false makes every mean load its frames into slots.
extern bool MeanFitsRows;

// Writes the slot as the master `name` (given the FITS extension): an existing
// file is replaced only when the overwrite question is confirmed. True when
// written; a failed write shows the save message.
bool SaveMasterFile(int slot, std::string& name, const std::string& existsCaption, TMasterProgress& progress);

// A free slot other than the given ones; -1 when none.
int FreeSlotExcept(int a, int b = -1);

}  // namespace astrelon
