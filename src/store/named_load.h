#pragma once
// Loading the files of a series (a batch run's inputs, the speckle frames):
// a file that does not load is named in the message that says why.
#include <string>

namespace astrelon {

// Loads the file into the slot as LoadImageFile does. When it does not load,
// the user learns which file it was: a missing file gives name + CR LF +
// " ist nicht vorhanden."; a reader's message or question that does not name
// the file gets the name on a line of its own; a reader that said nothing
// gives "Fehler beim öffnen der Datei" and the name; running out of memory or
// a read error is reported with the name too. False then.
bool LoadImageFileNamed(int slot, const std::string& fileName);

// name + CR LF + " ist nicht vorhanden."
std::string FileMissingText(const std::string& fileName);

}  // namespace astrelon
